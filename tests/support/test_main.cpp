// The main of the test programs that need Qt: with CAMERA_TEST_WIDGETS a QApplication, for the
// window tests (the platform is offscreen unless one is set, so no display is needed), else a
// QCoreApplication, for an event loop. Tests that need neither use GoogleTest's own main.
#include <gmock/gmock.h>

#ifdef CAMERA_TEST_WIDGETS
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application app(argc, argv);
    // A turn of the loop first, so Qt's dispatcher (glib) sets up its per-thread state before
    // any case: set up later, Clang 14's LeakSanitizer crashed at times reading it at the exit.
    QCoreApplication::processEvents();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
