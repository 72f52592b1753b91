#pragma once

#include <QObject>

class QSocketNotifier;

// The desktop session asking the program to end: SIGTERM (a logout, systemd, `kill`) and SIGHUP
// (the terminal it was started from closed) become the signal requested() on the window's
// thread, so that a pass can stop as it would for a closed window instead of being cut off.
// One per program.
class SessionEnd : public QObject
{
    Q_OBJECT
public:
    explicit SessionEnd(QObject *parent = nullptr);
    ~SessionEnd() override;

signals:
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
