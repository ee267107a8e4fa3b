#include "journal/Startup.h"

int main(int argc, char** argv) {
    return journal::runJournal(argc, argv);
}
