#include "app/parvex_app.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return TheApp().Run();
}
