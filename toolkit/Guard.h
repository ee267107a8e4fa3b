#pragma once

#include "toolkit/MessageBox.h"

#include <exception>
#include <utility>

namespace toolkit {

// Runs one event handler and shows an error it raises in the error box, so that no exception
// ever unwinds through the toolkit's own frames; the program then goes on with the next event.
// What the handler did before the error stays done.
template <typename F> void runHandler(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowErrorBox(QString());
    }
}

// A zero-argument callable for connect(): the signal's arguments are dropped.
//   connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(Button1); }));
template <typename F> auto guarded(F handler) {
    return [handler = std::move(handler)]() mutable noexcept { runHandler(handler); };
}

} // namespace toolkit
