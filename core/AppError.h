#pragma once

#include <QString>
#include <stdexcept>

// A failure of the tool: it carries the message text the user sees in the error box
// (or, for the update commands, behind a status-bar prefix).
class AppError : public std::runtime_error {
  public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const noexcept { return message_; }

  private:
    QString message_;
};

// The text of the error box: the message, with a full stop appended when the code of its
// last character is above that of the full stop.
QString ErrorBoxText(const QString& message);
