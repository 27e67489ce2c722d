// A PC's parallel port for a Verilator testbench: it serves the port socket that SPI and camctl
// reach with --port-io=unix:PATH and puts each port access on the pins of the design under test.
//
// Plusargs: +lpt_socket=PATH (required), +lpt=1|2 (the port's addresses, 0x378 or 0x278;
// default 1), +lpt_clocks=N (each access takes N rising edges of clk; default 4).
//
// A data-register write sets sck, cs_n and mosi (data bits 0, 1, 2) at a rising edge; a status
// read samples miso and ready at a rising edge, after the last write has been held for N edges,
// and answers with them in bits 5 and 7 and the other bits as an idle port reads them (0x58).
// Until the first write the pins idle: cs_n high, sck and mosi low. While no access comes the
// simulation waits inside the bridge (time stands still); SIGINT or SIGTERM ends it with
// $finish, so a waveform being written is closed whole.
module lpt_port_bridge (
    input  logic clk,              // the testbench's clock
    output logic sck, cs_n, mosi,  // data bits 0, 1 (chip select, active low), 2 of the port
    input  logic miso, ready       // status bits 5 and 7 (ready: 1 = ready, as the PC reads it)
);
    import "DPI-C" function int lpt_bridge_start(input string path, input int lpt);
    import "DPI-C" function int lpt_bridge_next();
    import "DPI-C" function void lpt_bridge_answer_status(input int miso, input int ready);
    import "DPI-C" function void lpt_bridge_stop();

    localparam int AccessWriteData = 'h100;
    localparam int AccessReadStatus = 'h200;

    string socket_path;
    int lpt = 1;
    int clocks = 4;
    int edges_left = 0;  // edges the access in progress still holds the port

    initial begin
        sck = 1'b0;
        cs_n = 1'b1;
        mosi = 1'b0;
        if (!$value$plusargs("lpt_socket=%s", socket_path)) begin
            $display("lpt_port_bridge: +lpt_socket=PATH is required");
            $finish;
        end
        void'($value$plusargs("lpt=%d", lpt));
        void'($value$plusargs("lpt_clocks=%d", clocks));
        if (clocks < 1) begin
            $display("lpt_port_bridge: +lpt_clocks takes 1 or more");
            $finish;
        end
        if (lpt_bridge_start(socket_path, lpt) != 0) $finish;
    end

    always @(posedge clk) begin
        if (edges_left > 1) begin
            edges_left <= edges_left - 1;
        end else begin
            automatic int access = lpt_bridge_next();
            if (access < 0) begin
                $finish;
            end else if ((access & AccessWriteData) != 0) begin
                sck <= access[0];
                cs_n <= access[1];
                mosi <= access[2];
            end else if ((access & AccessReadStatus) != 0) begin
                lpt_bridge_answer_status(int'(miso), int'(ready));
            end
            edges_left <= clocks;
        end
    end

    final lpt_bridge_stop();
endmodule
