#include <QApplication>

#include "ui/ABOUT.h"
#include "ui/fils_io.h"
#include "ui/main_zelk.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The name, not the display name: Qt would append a display name to
    // every window caption.
    QApplication::setApplicationName("ZELK");

    zelk::TForm1 form1;
    zelk::TAboutBox aboutBox;
    zelk::TForm2 form2;
    form1.Attach(aboutBox, form2);
    form1.show();
    return app.exec();
}
