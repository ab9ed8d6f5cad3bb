#include "app/parvex_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The main window runs modally; detail windows left open must not end the program early.
    QApplication::setQuitOnLastWindowClosed(false);
    return TheApp().Run();
}
