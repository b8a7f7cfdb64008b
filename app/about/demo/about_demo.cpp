// Shows the about box alone, wired as the application controller wires it.
#include "AboutBox.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    AboutBox box;
    QObject::connect(&box, &AboutBox::windowDidBecomeKey, &box, &AboutBox::startScrolling);
    QObject::connect(&box, &AboutBox::windowDidResignKey, &box, &AboutBox::stopScrolling);
    box.showBox();
    return app.exec();
}
