// Bytes nobody asked for, against the serial session. For each way a line can carry bytes that
// are not the answer asked for (a stray byte just before each reply, bytes waiting when the port
// opens, the tail of an earlier frame still arriving, a reply's last byte coming late, a byte
// between the capture and the frame read), trials at random places and sizes run a read-back of
// every setting and then a capture and frame read on a scripted line holding a known module.
// Counted: the faults injected, read-backs that reported success with a value that is not the
// module's, and bytes at the start of a frame that are not the module's frame (an earlier frame's
// tail, a stray byte). Exits 1 unless both counts are 0.
//
//   cmake --build build --target serial_fault_bench
//   build/bench/serial_fault_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "support/serial_session_rig.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using Trial = testing_support::SerialSessionRig;

constexpr int kTrialsPerFault = 400;

struct Fault {
    const char* name;
    std::function<void(Trial&, std::mt19937&)> inject;
};

}  // namespace

int main() {
    std::mt19937 random(20261207);
    const Fault faults[] = {
        {"stray bytes just before each reply",
         [](Trial& t, std::mt19937& r) {
             t.beforeReply = Bytes(std::uniform_int_distribution<std::size_t>(1, 3)(r), 0x0B);
         }},
        {"bytes waiting when the port opened",
         [](Trial& t, std::mt19937& r) {
             t.line.arrive(Bytes(std::uniform_int_distribution<std::size_t>(1, 40)(r), 0xE7));
         }},
        {"an earlier frame's tail still arriving",
         [](Trial& t, std::mt19937& r) {
             const milliseconds every(std::uniform_int_distribution<int>(1, 40)(r));
             const milliseconds until(std::uniform_int_distribution<int>(10, 900)(r));
             t.noise = [&t, every, until, next = milliseconds{0}](milliseconds now) mutable {
                 if (now < until && now >= next) {
                     t.line.arrive({0xD9});
                     next = now + every;
                 }
             };
         }},
        {"a reply's last byte coming late",
         [](Trial& t, std::mt19937& r) {
             const milliseconds late(std::uniform_int_distribution<int>(50, 2500)(r));
             t.shapeReply = [&t, late](Bytes reply) {
                 const std::uint8_t last = reply.back();
                 reply.pop_back();
                 t.noise = [&t, last, at = t.elapsed() + late](milliseconds now) mutable {
                     if (at.count() >= 0 && now >= at) {
                         t.line.arrive({last});
                         at = milliseconds{-1};
                     }
                 };
                 t.shapeReply = {};  // once
                 return reply;
             };
         }},
        {"bytes between the capture and the frame read",
         [](Trial& t, std::mt19937& r) {
             // In the module's compress time, which follows the read-back.
             const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 20)(r);
             t.noise = [&t, count, sent = false](milliseconds) mutable {
                 const auto out = t.line.outputs();
                 if (!sent && !out.empty() && out.back() == Bytes{protocol::command::kCapture}) {
                     t.line.arrive(Bytes(count, 0x42));
                     sent = true;
                 }
             };
         }},
    };
    const Bytes moduleFrame = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0xFF, 0xD9};
    int injected = 0;
    int wrongValues = 0;
    int readBacksFailed = 0;
    std::size_t bytesNotTheFrames = 0;
    for (const Fault& fault : faults) {
        int wrongHere = 0;
        std::size_t notFrameHere = 0;
        for (int n = 0; n < kTrialsPerFault; ++n) {
            Trial t(moduleFrame);
            fault.inject(t, random);
            ++injected;
            const auto settings = t.serial.readSettings();
            if (settings && !Trial::holdsPowerUpValues(*settings)) {
                ++wrongHere;
            }
            readBacksFailed += settings ? 0 : 1;
            frames::FrameStore frame;
            const auto fetched = t.serial.captureAndRead(frame, {});
            // A frame that is not exactly the module's counts whole: none of it can be trusted.
            if (fetched && !std::ranges::equal(frame.frame(), moduleFrame)) {
                notFrameHere += frame.count();
            }
        }
        std::printf("%-48s %4d injected, %d values wrong with success, %zu bytes not the frame's\n",
                    fault.name, kTrialsPerFault, wrongHere, notFrameHere);
        wrongValues += wrongHere;
        bytesNotTheFrames += notFrameHere;
    }
    std::printf(
        "faults injected: %d; read-backs refused as in doubt or silent: %d; values reported "
        "wrong with success: %d (target 0); bytes of an earlier frame or stray bytes "
        "delivered as a frame: %zu (target 0)\n",
        injected, readBacksFailed, wrongValues, bytesNotTheFrames);
    return wrongValues == 0 && bytesNotTheFrames == 0 ? 0 : 1;
}
