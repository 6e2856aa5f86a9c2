#include <QApplication>

#include "ui/ABOUT.h"
#include "ui/close_on_signals.h"
#include "ui/fils_io.h"
#include "ui/main_zelk.h"

int main(int argc, char* argv[]) {
    zelk::TForm1* window = nullptr;
    // Before QApplication, whose threads must inherit the blocked signals.
    zelk::TCloseOnSignals closeOnSignals([&window] {
        if (window != nullptr) window->close();  // releases the port
        // Also ends the loops of modal dialogs that may be open.
        QCoreApplication::exit(0);
    });
    QApplication app(argc, argv);
    // The name, not the display name: Qt would append a display name to
    // every window caption.
    QApplication::setApplicationName("ZELK");

    zelk::TForm1 form1;
    zelk::TAboutBox aboutBox;
    zelk::TForm2 form2;
    form1.Attach(aboutBox, form2);
    window = &form1;
    closeOnSignals.Watch();
    form1.show();
    return app.exec();
}
