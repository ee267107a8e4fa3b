#include "toolkit/MessageBox.h"

#include "data/Errors.h"
#include "toolkit/Form.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <deque>
#include <dlfcn.h>
#include <optional>

namespace toolkit {

namespace {

// The box's own keys and placement live here; QMessageBox cannot express a box without a
// cancel button, the close box giving Cancel, or our button order.
class BoxDialog : public QDialog {
public:
    struct Button {
        QString caption;
        ModalResult result;
    };

    BoxDialog(const QString& title, const QString& text, std::optional<QStyle::StandardPixmap> icon,
              const std::vector<Button>& buttons, int defaultIndex, int cancelIndex)
        : title_(title), text_(text) {
        setObjectName(QStringLiteral("MessageBox"));
        setWindowTitle(title);
        setWindowIconText(applicationTitle());
        setFont(windowFont());
        setModal(true);

        auto* top = new QHBoxLayout;
        top->setSpacing(12);
        if (icon) {
            auto* iconLabel = new QLabel(this);
            iconLabel->setObjectName(QStringLiteral("Icon"));
            iconLabel->setPixmap(style()->standardIcon(*icon).pixmap(32, 32));
            iconLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
            top->addWidget(iconLabel, 0, Qt::AlignTop);
        }
        auto* message = new QLabel(this);
        message->setObjectName(QStringLiteral("Message"));
        message->setTextFormat(Qt::PlainText);
        message->setText(displayText(text));
        // Sized to the text, but never wider than half the screen: longer lines wrap.
        const int widest = availableGeometry().width() / 2;
        if (message->sizeHint().width() > widest) {
            message->setWordWrap(true);
            message->setFixedWidth(widest);
        }
        top->addWidget(message, 1, Qt::AlignVCenter);

        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        row->addStretch(1);
        for (size_t i = 0; i < buttons.size(); ++i) {
            auto* button = new QPushButton(buttons[i].caption, this);
            button->setObjectName(QStringLiteral("Button_") +
                                  QString(buttons[i].caption).remove(QLatin1Char('&')));
            button->setFixedSize(75, 25);
            const ModalResult result = buttons[i].result;
            connect(button, &QPushButton::clicked, this, [this, result] { done(int(result)); });
            if (int(i) == defaultIndex)
                button->setDefault(true);
            if (int(i) == cancelIndex)
                cancel_ = button;
            row->addWidget(button);
            captions_.push_back(buttons[i].caption);
            buttons_.push_back(button);
        }
        row->addStretch(1);

        auto* layout = new QVBoxLayout(this);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->setContentsMargins(16, 16, 16, 12);
        layout->setSpacing(16);
        layout->addLayout(top);
        layout->addLayout(row);

        // Enter presses the focused button, which is the default one until the user moves on.
        if (defaultIndex >= 0)
            buttons_[size_t(defaultIndex)]->setFocus();
        else if (!buttons_.empty())
            buttons_.front()->setFocus();
    }

    // QLabel breaks lines only at a line feed; the test run's result separates its lines with a
    // lone carriage return.
    static QString displayText(QString text) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        return text;
    }

    static QRect availableGeometry() {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return screen->availableGeometry();
        return QRect(0, 0, 1024, 768);
    }

protected:
    void showEvent(QShowEvent* event) override {
        // Centred on the screen by us: the toolkit's own placement is off-centre.
        centreOnScreen(this);
        QDialog::showEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            // Without a cancel button Esc does nothing.
            if (cancel_)
                cancel_->click();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_F4 && (event->modifiers() & Qt::AltModifier)) {
            close();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_C && event->modifiers() == Qt::ControlModifier) {
            QApplication::beep();
            if (QClipboard* clipboard = QGuiApplication::clipboard())
                clipboard->setText(clipboardText(title_, text_, captions_));
            event->accept();
            return;
        }
        // A button's access letter presses it alone as well as with Alt.
        if (event->modifiers() == Qt::NoModifier) {
            const QKeySequence withAlt(QKeyCombination(Qt::AltModifier, Qt::Key(event->key())));
            for (QPushButton* button : buttons_)
                if (QKeySequence::mnemonic(button->text()) == withAlt) {
                    button->click();
                    event->accept();
                    return;
                }
        }
        QDialog::keyPressEvent(event);
    }

public:
    // The close box and Alt+F4 end the box with Cancel, whatever its buttons.
    void reject() override { done(int(ModalResult::Cancel)); }

private:
    QString title_;
    QString text_;
    std::vector<QString> captions_;
    std::vector<QPushButton*> buttons_;
    QPushButton* cancel_ = nullptr;
};

struct SeamState {
    bool armed = false;
    std::deque<ModalResult> answers;
    std::vector<ShownBox> shown;
    int unexpected = 0;
};

SeamState& seamState() {
    static SeamState state;
    return state;
}

// Runs one box: answered from the test seam when it is armed, shown for real otherwise.
ModalResult runBox(ShownBox::Kind kind, const QString& title, const QString& text,
                   std::optional<QStyle::StandardPixmap> icon,
                   const std::vector<BoxDialog::Button>& buttons, int defaultIndex,
                   int cancelIndex) {
    SeamState& seam = seamState();
    if (seam.armed) {
        ShownBox box{kind, title, text, {}};
        for (const auto& button : buttons)
            box.buttons.push_back(button.caption);
        seam.shown.push_back(box);
        if (seam.answers.empty()) {
            ++seam.unexpected;
            return ModalResult::None;
        }
        const ModalResult answer = seam.answers.front();
        seam.answers.pop_front();
        return answer;
    }
    BoxDialog dialog(title, text, icon, buttons, defaultIndex, cancelIndex);
    return ModalResult(dialog.exec());
}

QString messageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

QString programFileName() {
    QString path;
    if (QCoreApplication::instance())
        path = QCoreApplication::applicationFilePath();
    if (path.isEmpty())
        path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(path).fileName();
}

const BoxDialog::Button kOK{QStringLiteral("OK"), ModalResult::OK};

} // namespace

QString applicationTitle() {
    return applicationTitle(programFileName());
}

QString applicationTitle(const QString& programFile) {
    const QString name = QFileInfo(programFile).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const QString stem = dot >= 0 ? name.left(dot) : name;
    return stem.left(1) + stem.mid(1).toLower();
}

QString clipboardText(const QString& title, const QString& text,
                      const std::vector<QString>& captions) {
    const QString divider = QString(27, QLatin1Char('-')) + QLatin1Char('\n');
    QString buttons;
    for (const QString& caption : captions)
        buttons += QString(caption).remove(QLatin1Char('&')) + QLatin1String("   ");
    return divider + title + QLatin1Char('\n') + divider + text + QLatin1Char('\n') + divider +
           buttons + QLatin1Char('\n') + divider;
}

void ShowMessage(const QString& text) {
    runBox(ShownBox::Kind::Message, applicationTitle(), text, std::nullopt, {kOK}, 0, 0);
}

ModalResult MessageDlg(const QString& text, MsgDlgButtons buttons) {
    std::vector<BoxDialog::Button> row;
    if (buttons & mbYes)
        row.push_back({QStringLiteral("&Yes"), ModalResult::Yes});
    if (buttons & mbNo)
        row.push_back({QStringLiteral("&No"), ModalResult::No});
    if (buttons & mbOK)
        row.push_back({QStringLiteral("OK"), ModalResult::OK});
    if (buttons & mbCancel)
        row.push_back({QStringLiteral("Cancel"), ModalResult::Cancel});
    auto indexOf = [&row](ModalResult result) {
        for (size_t i = 0; i < row.size(); ++i)
            if (row[i].result == result)
                return int(i);
        return -1;
    };
    int defaultIndex = indexOf(ModalResult::OK);
    if (defaultIndex < 0)
        defaultIndex = indexOf(ModalResult::Yes);
    int cancelIndex = indexOf(ModalResult::Cancel);
    if (cancelIndex < 0)
        cancelIndex = indexOf(ModalResult::No);
    if (cancelIndex < 0)
        cancelIndex = indexOf(ModalResult::OK);
    return runBox(ShownBox::Kind::Confirmation, QStringLiteral("Confirm"), text,
                  QStyle::SP_MessageBoxQuestion, row, defaultIndex, cancelIndex);
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorBox(const QString& message) {
    runBox(ShownBox::Kind::Error, applicationTitle(), errorBoxText(message),
           QStyle::SP_MessageBoxCritical, {kOK}, 0, 0);
}

void ShowException(const std::exception& error) {
    ShowErrorBox(messageOf(error));
}

QString startupErrorText(const std::exception& error) {
    // The module and offset of the code that raised the error, as a crash report would give
    // them; an error of another kind carries no address and is charged to the program itself.
    QString module = programFileName();
    quintptr offset = 0;
    if (const auto* own = dynamic_cast<const Exception*>(&error)) {
        Dl_info info{};
        if (own->raiseAddress() && dladdr(own->raiseAddress(), &info) != 0) {
            if (info.dli_fname && *info.dli_fname)
                module = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).fileName();
            offset = quintptr(own->raiseAddress()) - quintptr(info.dli_fbase);
        }
    }
    const QString message = messageOf(error);
    const QString fullStop =
        !message.isEmpty() && !message.endsWith(QLatin1Char('.')) ? QStringLiteral(".") : QString();
    return QStringLiteral("Exception %1 in module %2 at %3.\r\n%4%5\r\n")
        .arg(exceptionTypeName(error), module,
             QStringLiteral("%1").arg(quint32(offset), 8, 16, QLatin1Char('0')).toUpper(), message,
             fullStop);
}

void ShowStartupError(const std::exception& error) {
    runBox(ShownBox::Kind::StartupError, QStringLiteral("Application Error"),
           startupErrorText(error), QStyle::SP_MessageBoxCritical, {kOK}, 0, 0);
}

namespace seam {

void arm() {
    seamState().armed = true;
}

void disarm() {
    SeamState& state = seamState();
    state.armed = false;
    state.answers.clear();
    state.shown.clear();
    state.unexpected = 0;
}

void pushAnswer(ModalResult answer) {
    seamState().answers.push_back(answer);
}

int pendingAnswers() {
    return int(seamState().answers.size());
}

const std::vector<ShownBox>& shown() {
    return seamState().shown;
}

void clearShown() {
    seamState().shown.clear();
}

int unexpectedBoxes() {
    return seamState().unexpected;
}

} // namespace seam

} // namespace toolkit
