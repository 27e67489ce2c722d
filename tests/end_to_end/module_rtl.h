// The reference camera module's RTL behind the port bridge (hdl/), simulated by Verilator, on a
// socket of a test's folder, its frame memory loaded from a JPEG file. Where the build made no
// simulator, tests that need it skip.
#pragma once

#include <QFile>
#include <QProcess>
#include <QTest>

struct ModuleRtl {
    ModuleRtl(const QString& folder, const QString& frame) : socket(folder + "/rtl.sock") {
#ifdef CAMERA_MODULE_SIM
        process.start(CAMERA_MODULE_SIM, {"+lpt_socket=" + socket, "+frame=" + frame});
        serving = QTest::qWaitFor([&] { return QFile::exists(socket); }, 5000);
#else
        (void)frame;
#endif
    }
    // Ends the simulation as SIGTERM does: finished, the socket removed. True when it went so.
    bool end() {
        process.terminate();
        return process.waitForFinished(5000) && process.exitCode() == 0 && !QFile::exists(socket);
    }
    ~ModuleRtl() {
        if (process.state() != QProcess::NotRunning) {
            end();
        }
    }

    static constexpr bool kBuilt =
#ifdef CAMERA_MODULE_SIM
        true;
#else
        false;
#endif
    QString socket;
    QProcess process;
    bool serving = false;
};
