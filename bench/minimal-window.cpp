// The yardstick for start-up: the least a Qt Widgets program does to put one
// label on the screen. It prints a line once the label has been painted and
// quits, so that it can be timed exactly like the popup.
//
//   minimal-window          a Latin label
//   minimal-window TEXT     a label of TEXT, e.g. Chinese: the font fallback
//                           every program showing Chinese pays for
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {

class Label final : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        if (m_painted)
            return;
        m_painted = true;
        // Queued, so the painted frame reaches the window system first.
        QTimer::singleShot(0, qApp, [] {
            std::puts("PAINTED");
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Label label(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Hello"));
    label.resize(200, 60);
    label.show();
    return QApplication::exec();
}
