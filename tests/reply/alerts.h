#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

// Answers the copy confirmation once it is open, as the user would, and
// records what it showed. Polls for the alert; never sleeps.
class AlertWatcher final : public QObject
{
public:
    struct Seen
    {
        QString windowTitle;
        QString text;
        QString informative;
        QStringList buttons;
        Qt::TextFormat format;
    };

    // Runs once per alert, while it is open and before it is answered.
    std::function<void()> whileOpen;
    // The alert is answered once this holds (or after a bounded wait).
    std::function<bool()> readyToAnswer;
    QList<Seen> seen;

    AlertWatcher()
    {
        connect(&m_poll, &QTimer::timeout, this, &AlertWatcher::poll);
        m_poll.start(5);
    }

private:
    static QMessageBox *openAlert()
    {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            return box;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                return box;
        }
        return nullptr;
    }

    void poll()
    {
        QMessageBox *box = openAlert();
        if (!box)
            return;
        if (box != m_current) {
            m_current = box;
            m_waited = 0;
            Seen s;
            s.windowTitle = box->windowTitle();
            s.text = box->text();
            s.informative = box->informativeText();
            s.format = box->textFormat();
            for (QAbstractButton *b : box->buttons())
                s.buttons << b->text();
            seen << s;
            if (whileOpen)
                whileOpen();
        }
        if (readyToAnswer && !readyToAnswer() && ++m_waited < 400)
            return;
        if (!box->buttons().isEmpty())
            box->buttons().constFirst()->click();
    }

    QTimer m_poll;
    QPointer<QMessageBox> m_current;
    int m_waited = 0;
};
