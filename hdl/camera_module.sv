// A reference of the camera module's SPI side in SystemVerilog: an example of a design behind
// lpt_port_bridge, and the bridge's own test. The SPI slave works in the four modes, CPOL and
// CPHA from register 18, a new mode taking effect with the chip-select frame after the one that
// set it. One byte per chip-select frame, most significant bit first. What it takes:
//   - a register write: the register's number (16..22, 55, 56), then its value, one byte or two
//     (55 and 56, high byte first), each byte in a frame of its own;
//   - a read request (16..22 -> 0..6, 55 -> 7, 56 -> 8): the value goes out in the next frames;
//   - a command: 64 capture (not ready for CaptureClocks clocks; the bridge's clock runs only
//     with the PC's accesses, so the frame's bytes go out at once, as the emulator's do, and
//     the busy time passes during the download), 128 frame read (the frame's bytes
//     in the following frames; ready goes to 1 as the last byte's eighth bit is presented),
//     160/161 test mode on/off, 192 reset (registers, mode 0, queues emptied).
// While the module has something to send, a frame whose byte in is 0 is the PC reading, not a
// request for register 16. A frame cut short (not eight bits) is dropped, and with it a register
// write in progress. Replies go out before the rest of a frame in progress.
//
// The frame is the JPEG file named by +frame=FILE, read at start ($fread), at most FrameBytes
// bytes: every capture gives it, in test mode too (the mode is held, as the module holds it).
//
// Written as a model, not for synthesis: one clocked process, its state updated in order with
// blocking assignments, as the module's behaviour reads.
/* verilator lint_off BLKSEQ */
module camera_module #(
    parameter int FrameBytes = 65536,
    parameter int CaptureClocks = 2000
) (
    input  logic clk,
    input  logic sck, cs_n, mosi,
    output logic miso,
    output logic ready
);
    localparam logic [7:0] CmdCapture = 8'd64;
    localparam logic [7:0] CmdFrameRead = 8'd128;
    localparam logic [7:0] CmdTestModeOn = 8'd160;
    localparam logic [7:0] CmdTestModeOff = 8'd161;
    localparam logic [7:0] CmdReset = 8'd192;
    localparam int ReplyDepth = 16;

    logic [7:0] frame_mem[FrameBytes];
    int frame_length = 0;

    // Registers 16..22 (index 0..6) and 55, 56.
    logic [7:0] narrow[7];
    logic [15:0] width, height;
    logic [1:0] spi_mode;
    /* verilator lint_off UNUSEDSIGNAL */
    logic test_mode;
    /* verilator lint_on UNUSEDSIGNAL */

    // The pins as they were at the last clock, to see their edges.
    logic sck_q = 1'b0, cs_q = 1'b1, mosi_q = 1'b0;

    // The chip-select frame in progress.
    logic selected = 1'b0;
    logic [1:0] frame_mode;
    logic [7:0] shift_in, shift_out;
    int bits_in, bits_out;
    logic out_queued;     // the byte going out was owed (a reply or a frame byte)
    logic frame_byte_out; // it is a frame byte
    logic miso_bit = 1'b0;

    // What is owed: reply bytes first, then the frame.
    logic [7:0] replies[ReplyDepth];
    int reply_head, reply_count;
    int frame_next, frame_left;
    logic captured;
    int busy;

    // A register write in progress: its register number and the value bytes still to come.
    logic [7:0] write_reg;
    int write_left;
    logic [15:0] write_value;

    assign miso = selected && miso_bit;
    assign ready = frame_left == 0 && busy == 0;

    initial begin
        string path;
        int fd;
        if ($value$plusargs("frame=%s", path)) begin
            fd = $fopen(path, "rb");
            if (fd == 0) begin
                $display("camera_module: cannot open %s", path);
                $finish;
            end
            frame_length = $fread(frame_mem, fd);
            $fclose(fd);
        end
    end

    function automatic logic is_narrow(logic [7:0] b);
        return b >= 8'd16 && b <= 8'd22;
    endfunction

    task automatic power_up();
        narrow[0] = 8'd2;    // compression 2, colour
        narrow[1] = 8'd2;    // 2400 baud
        narrow[2] = 8'd0;    // SPI mode 0
        narrow[3] = 8'd60;   // brightness step 6
        narrow[4] = 8'd124;  // R, G, B step 31
        narrow[5] = 8'd124;
        narrow[6] = 8'd124;
        width = 16'd352;
        height = 16'd288;
        spi_mode = 2'd0;
        test_mode = 1'b0;
        reply_head = 0;
        reply_count = 0;
        frame_next = 0;
        frame_left = 0;
        captured = 1'b0;
        busy = 0;
        write_left = 0;
    endtask

    initial power_up();

    task automatic queue_reply(logic [7:0] b);
        if (reply_count < ReplyDepth) begin
            replies[(reply_head + reply_count) % ReplyDepth] = b;
            reply_count = reply_count + 1;
        end
    endtask

    task automatic capture();
        frame_left = 0;  // what was left of the last frame goes
        captured = 1'b1;
        busy = CaptureClocks;
    endtask

    task automatic complete_write();
        if (write_reg == 8'd55) width = write_value;
        else if (write_reg == 8'd56) height = write_value;
        else begin
            narrow[3'(write_reg - 8'd16)] = write_value[7:0];
            if (write_reg == 8'd18 && write_value < 16'd4) spi_mode = write_value[1:0];
        end
    endtask

    task automatic receive(logic [7:0] b);
        if (write_left > 0) begin
            write_value = {write_value[7:0], b};
            write_left = write_left - 1;
            if (write_left == 0) complete_write();
        end else if (is_narrow(b) || b == 8'd55 || b == 8'd56) begin
            write_reg = b;
            write_left = is_narrow(b) ? 1 : 2;
            write_value = 16'd0;
        end else if (b <= 8'd6) begin
            queue_reply(narrow[3'(b)]);
        end else if (b == 8'd7 || b == 8'd8) begin
            queue_reply(b == 8'd7 ? width[15:8] : height[15:8]);
            queue_reply(b == 8'd7 ? width[7:0] : height[7:0]);
        end else if (b == CmdCapture) begin
            capture();
        end else if (b == CmdFrameRead) begin
            if (frame_left == 0) begin
                if (!captured) capture();
                frame_next = 0;
                frame_left = frame_length;
            end
        end else if (b == CmdTestModeOn || b == CmdTestModeOff) begin
            test_mode = b == CmdTestModeOn;
        end else if (b == CmdReset) begin
            power_up();
        end
    endtask

    // The byte this frame sends: a reply, a frame byte, or 0 when nothing is owed.
    task automatic take_outgoing();
        out_queued = 1'b1;
        frame_byte_out = 1'b0;
        if (reply_count > 0) begin
            shift_out = replies[reply_head];
            reply_head = (reply_head + 1) % ReplyDepth;
            reply_count = reply_count - 1;
        end else if (frame_left > 0) begin
            shift_out = frame_mem[frame_next];
            frame_next = frame_next + 1;
            frame_byte_out = 1'b1;
        end else begin
            shift_out = 8'd0;
            out_queued = 1'b0;
        end
    endtask

    // The byte going out is spent: the frame's count goes down with it.
    task automatic byte_out_finished();
        if (frame_byte_out) begin
            frame_byte_out = 1'b0;
            if (frame_left > 0) frame_left = frame_left - 1;
        end
    endtask

    task automatic drive_next_bit();
        if (bits_out >= 8) begin
            miso_bit = 1'b0;
        end else begin
            miso_bit = shift_out[7 - bits_out];
            bits_out = bits_out + 1;
            if (bits_out == 8) byte_out_finished();
        end
    endtask

    always @(posedge clk) begin
        if (busy > 0) busy = busy - 1;
        sck_q <= sck;
        cs_q <= cs_n;
        mosi_q <= mosi;
        if (selected && cs_n) begin
            // Chip select rising ends the frame; a clock edge with it reaches no shift register.
            selected = 1'b0;
            miso_bit = 1'b0;
            if (bits_out < 8) byte_out_finished();
            if (bits_in != 8) write_left = 0;
            else if (!(out_queued && shift_in == 8'd0)) receive(shift_in);
        end else begin
            if (!selected && !cs_n && cs_q) begin
                selected = 1'b1;
                frame_mode = spi_mode;
                bits_in = 0;
                shift_in = 8'd0;
                bits_out = 0;
                miso_bit = 1'b0;
                take_outgoing();
                if (!frame_mode[0]) drive_next_bit();
            end
            if (selected && sck != sck_q) begin
                // Leaving the idle level is the leading edge; CPHA 1 drives on it, CPHA 0 samples.
                if ((sck != frame_mode[1]) == frame_mode[0]) drive_next_bit();
                else begin
                    if (bits_in < 8) shift_in = {shift_in[6:0], mosi_q};
                    bits_in = bits_in + 1;
                end
            end
        end
    end
endmodule
/* verilator lint_on BLKSEQ */
