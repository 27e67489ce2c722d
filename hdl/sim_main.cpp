// The reference camera module's simulator: the testbench runs on Verilator's timing engine
// until it finishes (the bridge ends it on SIGINT or SIGTERM), and its final blocks run.
#include <memory>

#include "Vcamera_module_tb.h"
#include "verilated.h"

int main(int argc, char** argv) {
    const auto context = std::make_unique<VerilatedContext>();
    context->commandArgs(argc, argv);
    context->traceEverOn(true);
    Vcamera_module_tb top{context.get()};
    while (!context->gotFinish()) {
        top.eval();
        if (!top.eventsPending()) {
            break;
        }
        context->time(top.nextTimeSlot());
    }
    top.final();
    return 0;
}
