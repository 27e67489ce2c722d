// The reference camera module's RTL behind the port bridge (hdl/), simulated by Verilator, on a
// socket of a test's folder, its frame memory loaded from a JPEG file there. Where the build made
// no simulator, tests that need it skip.
#pragma once

#include <QFile>
#include <QProcess>
#include <QTest>

struct ModuleRtl {
    // Its frame memory holds `frame`, written to a file of `folder` first.
    ModuleRtl(const QString& folder, const QByteArray& frame) : socket(folder + "/rtl.sock") {
        QFile file(folder + "/frame.jpg");
        serving = file.open(QIODevice::WriteOnly) && file.write(frame) == frame.size();
        file.close();
#ifdef CAMERA_MODULE_SIM
        process.start(CAMERA_MODULE_SIM, {"+lpt_socket=" + socket, "+frame=" + file.fileName()});
        serving = serving && QTest::qWaitFor([&] { return QFile::exists(socket); }, 5000);
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
