// The demo game: a window titled with the game's name that stays until it is
// closed. It stands in for a publisher's client so the launcher can be tried
// and tested end to end.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral(ORB_DEMO_GAME_NAME));
    window.resize(640, 360);
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral("%1 %2").arg(QStringLiteral(ORB_DEMO_GAME_NAME),
                                                        QStringLiteral(ORB_DEMO_GAME_VERSION)));
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("font-size: 32px;"));
    layout->addWidget(label);
    window.show();
    return app.exec();
}
