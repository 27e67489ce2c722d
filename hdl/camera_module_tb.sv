// The reference camera module behind the PC's parallel port: run it with +lpt_socket=PATH and
// +frame=FILE.jpg, then drive it with SPI or camctl on --port-io=unix:PATH. +trace=FILE writes
// the RTL's waveform (FST).
module camera_module_tb;
    logic clk = 1'b0;
    /* verilator lint_off BLKSEQ */
    always #5 clk = ~clk;
    /* verilator lint_on BLKSEQ */

    logic sck, cs_n, mosi, miso, ready;
    lpt_port_bridge port(.clk, .sck, .cs_n, .mosi, .miso, .ready);
    camera_module module_(.clk, .sck, .cs_n, .mosi, .miso, .ready);

    initial begin
        string trace;
        if ($value$plusargs("trace=%s", trace)) begin
            $dumpfile(trace);
            $dumpvars();
        end
    end
endmodule
