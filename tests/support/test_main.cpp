// Every test program runs inside a QApplication so that window tests and Qt's event loop work;
// the platform is offscreen (set by CTest), so no display is needed.
#include <gmock/gmock.h>
#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
