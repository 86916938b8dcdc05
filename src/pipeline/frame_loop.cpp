#include "pipeline/frame_loop.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/frame_time.h"
#include "capture/pcap_source.h"
#include "capture/raw_log.h"
#include "decode/decoder.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "filter/where.h"
#include "output/record.h"
#include "output/tcp_stream.h"
#include "stats/counters.h"
#include "stats/views.h"

namespace {

// What the loop works out for a frame in reading order, before it may go to
// a worker: its number, its time text and the utilization so far.
struct frame_slot {
    captured_frame frame;
    // The frame's bytes: where they stay (a mapped file), or an offset
    // into the batch's copy.
    const uint8_t* stay_bytes;
    size_t bytes_at;
    unsigned long number;
    char time_text[64];
    bool have_utilization;
    double utilization;
    // Which lane (decode context) decodes the frame, and its place in that
    // lane's part.
    unsigned lane;
    unsigned place;
};

// Where a frame's text and TCP stream pieces end in its lane's part; they
// begin where the previous frame's end. Decoding threads write only into the
// part they decode, never into the slots the reading thread filled.
struct frame_output {
    size_t text_end;
    size_t pieces_end;
    size_t facts_end;
    // --where accepted the frame (always true without --where).
    bool shown;
};

// Consecutive frames read together, split into one part a lane (the frames
// of the lane's flows, in order); the reading thread writes the frames out
// in frame order when every part is decoded.
// A lane's text for its part; it trades buffers with the lane context's text
// buffer instead of copying.
struct text_block {
    text_block() = default;
    text_block(const text_block&) = delete;
    text_block& operator=(const text_block&) = delete;
    text_block(text_block&& from) noexcept : data(from.data), length(from.length), capacity(from.capacity) {
        from.data = nullptr;
        from.length = from.capacity = 0;
    }
    ~text_block() { free(data); }
    char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
};

struct alignas(64) batch_part {
    std::vector<size_t> frames;  // indices into batch::frames
    std::vector<frame_output> outputs;
    text_block text;
    std::vector<tcp_stream_piece> pieces;
    std::vector<frame_fact> facts;
};

struct batch {
    std::vector<frame_slot> frames;
    std::vector<uint8_t> bytes;
    std::vector<batch_part> parts;
    // Parts not yet decoded; a fatal signal's handler reads it too.
    std::atomic<unsigned> parts_left{0};
    unsigned long number = 0;  // in reading order
    size_t stay_length = 0;  // bytes of the frames not copied
};

const uint8_t* slot_bytes(const batch& b, const frame_slot& slot) {
    return slot.stay_bytes ? slot.stay_bytes : b.bytes.data() + slot.bytes_at;
}

constexpr size_t batch_frames = 256;
constexpr size_t batch_bytes = 512 << 10;

decode_context& main_context() {
    static decode_context cx(zelk_main_text());
    return cx;
}

// A hash of the outermost IP header's two addresses, the same in both
// directions; 0 when the frame carries no IP header the reader can find
// cheaply. Every fragment of a datagram and every segment of a connection
// (also inside a tunnel) shares it, so their flow state stays in one
// worker's context.
uint64_t flow_of(const captured_frame& frame) {
    const uint8_t* p = frame.bytes;
    size_t n = frame.lengths.captured_length;
    size_t at = frame.link_header_length;
    uint16_t type = 0;
    switch (frame.link_type) {
        case 1:  // Ethernet, behind any number of VLAN tags
            if (n < 14) return 0;
            type = static_cast<uint16_t>(p[12] << 8 | p[13]);
            at = 14;
            for (int tags = 0; (type == 0x8100 || type == 0x88a8 || type == 0x9100) && tags < 8; ++tags) {
                if (n < at + 4) return 0;
                type = static_cast<uint16_t>(p[at + 2] << 8 | p[at + 3]);
                at += 4;
            }
            break;
        case 113:  // Linux cooked capture
            if (n < 16) return 0;
            type = static_cast<uint16_t>(p[14] << 8 | p[15]);
            at = 16;
            break;
        case 0:  // loopback: a 4-byte family, then IP
        case 12:
        case 228:
        case 229:  // raw IP
            if (n <= at) return 0;
            type = (p[at] >> 4) == 6 ? 0x86dd : (p[at] >> 4) == 4 ? 0x0800 : 0;
            break;
        default: return 0;
    }
    size_t address_at, address_length;
    if (type == 0x0800) {
        address_at = at + 12;
        address_length = 4;
    } else if (type == 0x86dd) {
        address_at = at + 8;
        address_length = 16;
    } else {
        return 0;
    }
    if (n < address_at + 2 * address_length) return 0;
    auto hash = [&](const uint8_t* a) {
        uint64_t h = 1469598103934665603ull;
        for (size_t i = 0; i < address_length; ++i) h = (h ^ a[i]) * 1099511628211ull;
        return h;
    };
    uint64_t a = hash(p + address_at), b = hash(p + address_at + address_length);
    // FNV leaves the high bits of nearby addresses alike; a finishing mix
    // spreads every input bit over the whole word, so the flows of one
    // subnet split evenly between any number of workers.
    uint64_t flow = a < b ? a * 31 + b : b * 31 + a;
    flow ^= flow >> 33;
    flow *= 0xff51afd7ed558ccdull;
    flow ^= flow >> 33;
    flow *= 0xc4ceb9fe1a85ec53ull;
    flow ^= flow >> 33;
    return flow ? flow : 1;
}

void fill_slot(frame_slot& slot, const captured_frame& frame) {
    slot.frame = frame;
    slot.number = capture.frame_counter;
    bool read_kind = frame.line == frame_line_kind::read_length || frame.line == frame_line_kind::read_lengths;
    frame_time_text(frame.seconds, read_kind ? frame.microseconds % 1000000 : frame.microseconds, slot.time_text,
                    sizeof slot.time_text, frame.nano_rest);
    slot.have_utilization = false;
    slot.utilization = 0;
    if (settings.statistic && !read_kind) {
        auto elapsed = static_cast<uint32_t>(time(nullptr) - start_time);
        if (elapsed != 0) {
            slot.have_utilization = true;
            slot.utilization = static_cast<double>(capture.byte_total / elapsed);
        }
    }
}

void print_frame_line(decode_context& cx, const frame_slot& slot) {
    const captured_frame& f = slot.frame;
    const char* time_text = slot.time_text;
    char whole_seconds[16];
    if ((f.line == frame_line_kind::read_length || f.line == frame_line_kind::read_lengths) &&
        frame_time_is_time_of_day()) {
        // Trace files keep their whole-second time of day.
        long day = f.seconds % 86400;
        if (day < 0) day += 86400;
        snprintf(whole_seconds, sizeof whole_seconds, "%02d:%02d:%02d", static_cast<int>(day / 3600),
                 static_cast<int>(day % 3600 / 60), static_cast<int>(day % 60));
        time_text = whole_seconds;
    }
    switch (f.line) {
        case frame_line_kind::received:
            zelk_printf(cx.out, "\n%s - Received frame %lu(%u/%u bytes length)...", time_text, slot.number,
                        f.lengths.captured_length, f.lengths.wire_length);
            break;
        case frame_line_kind::received_length:
            zelk_printf(cx.out, "\n%s - Received frame %lu(%u bytes length)...", time_text, slot.number,
                        f.lengths.captured_length);
            break;
        case frame_line_kind::read_length:
            zelk_printf(cx.out, "\n%s - Read frame %lu(%u bytes length)...\n", time_text, slot.number, f.line_length);
            return;
        case frame_line_kind::read_lengths:
            zelk_printf(cx.out, "\n%s - Read frame %lu(%u/%u bytes length)...\n", time_text, slot.number, f.line_length,
                        f.lengths.wire_length);
            return;
    }
    if (settings.statistic) {
        if (slot.have_utilization)
            zelk_printf(cx.out, " Utilization: %.0f B/s", slot.utilization);
        else
            zelk_printf(cx.out, " Utilization: n.a.");
    }
    zelk_printf(cx.out, "\n");
}

// What a frame --where rejects must leave behind: no counts and no TCP
// stream pieces. Taken before the frame is decoded, given back after.
class frame_undo {
   public:
    frame_undo(decode_context& cx, bool needed)
        : cx_(cx), pieces_(cx.stream_pieces.size()), counts_(needed && settings.statistic) {
        if (counts_) counters_ = cx.counters;
    }
    void undo() {
        if (counts_) cx_.counters = counters_;
        cx_.stream_pieces.erase(cx_.stream_pieces.begin() + static_cast<std::ptrdiff_t>(pieces_),
                                cx_.stream_pieces.end());
    }

   private:
    decode_context& cx_;
    size_t pieces_;
    bool counts_;
    protocol_counters counters_{};
};

void begin_slot(decode_context& cx, const frame_slot& slot) {
    const captured_frame& f = slot.frame;
    cx.frame_number = slot.number;
    begin_frame(cx, f.seconds, f.microseconds, f.lengths.captured_length, f.lengths.wire_length);
    if (recording()) {
        cx.record.link_type = f.link_type;
        cx.record.nano_rest = f.nano_rest;
        memcpy(cx.record.time_text, slot.time_text, sizeof cx.record.time_text);
    }
}

// The text output's first look at a frame under --where: the frame is
// decoded into its record only, and judged, before any text is made for
// it. What the look counted or collected is given back either way; the
// frame is decoded again for its text when it is shown.
bool judge_slot(decode_context& cx, const frame_slot& slot, const uint8_t* bytes) {
    frame_undo undo(cx, true);
    bool suppressed = cx.out.suppressed;
    struct pass_scope {
        pass_scope() { record_pass = true; }
        ~pass_scope() { record_pass = false; }
    } pass;
    begin_slot(cx, slot);
    cx.link_header_length = slot.frame.link_header_length;
    decode_frame(cx, slot.frame.decoder, &slot.frame.lengths, bytes);
    bool shown = end_frame(cx);
    cx.out.suppressed = suppressed;
    undo.undo();
    return shown;
}

// Everything that turns one frame into text or a record; false when
// --where rejects the frame, which then leaves no text, counts or stream
// pieces behind.
bool decode_slot(decode_context& cx, const frame_slot& slot, const uint8_t* bytes) {
    // Reassembly sees every frame once: the judging decoding feeds it, the
    // text decoding gets the same answers again. The statistics views take
    // their facts from that first, recording decoding too.
    struct answers_scope {
        decode_context& cx;
        bool on;
        ~answers_scope() {
            if (on) reassembly_answers_done(cx);
        }
    } answers{cx, (where_filter || stats_views_on()) && !settings.record_fields};
    if (answers.on) {
        reassembly_keep_answers(cx);
        if (!judge_slot(cx, slot, bytes)) return false;
        reassembly_replay_answers(cx);
    }
    // A structured output judges the frame in this one decoding.
    frame_undo undo(cx, where_filter != nullptr);
    const captured_frame& f = slot.frame;
    begin_slot(cx, slot);
    if (settings.beep_on) zelk_printf(cx.out, "%c", 7);
    print_frame_line(cx, slot);
    cx.link_header_length = f.link_header_length;
    decode_frame(cx, f.decoder, &f.lengths, bytes);
    if (!f.skip_raw_hex) print_raw_hex(cx, bytes, f.lengths.captured_length);
    if (end_frame(cx)) return true;
    undo.undo();
    return false;
}

// The statistics views' facts of the frames this thread just decoded.
void take_thread_facts() {
    std::vector<frame_fact>& facts = stats_thread_facts();
    for (frame_fact& f : facts) take_frame_fact(f);
    facts.clear();
}

// The side work every frame gets in frame order.
void frame_side_work(const frame_slot& slot, const uint8_t* bytes) {
    if (settings.server_addr && !slot.frame.skip_server) server_send_frame(bytes, slot.frame.lengths.captured_length);
    if (slot.frame.raw_log) write_raw_log(&slot.frame.raw_log_header, bytes);
}

// --- parallel decoding ---

// The threads decode lanes: a lane is a decode context with the flows
// that hash to it, and its parts, in batch order. Any thread may decode a
// lane's next part, one thread at a time, so a lane's frames reach its
// context in frame order; with several lanes a thread there are always parts
// to take, and a faster core simply takes more of them. The reading thread
// takes parts too while it waits for the oldest batch.
struct worker_pool {
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<zelk_text>> texts;
    std::vector<std::unique_ptr<decode_context>> contexts;  // one a lane
    std::mutex lock;
    std::condition_variable work_ready;
    std::condition_variable work_done;
    // A lane's parts waiting, in batch order, and whether a thread is
    // decoding one of its parts now.
    std::vector<std::deque<batch*>> queues;
    std::vector<char> lane_busy;
    bool stopping = false;
    // Batches handed out and not yet written, oldest first.
    std::deque<std::unique_ptr<batch>> in_flight;
    std::unique_ptr<batch> filling;
    // Written batches kept for reuse: their buffers are already grown and
    // touched, which spares the allocator and the page faults.
    std::vector<std::unique_ptr<batch>> spare;
    std::vector<iovec> pieces;
    unsigned long batches = 0;
};

worker_pool* pool = nullptr;
unsigned pool_jobs = 1;
unsigned pool_lanes = 1;
// Enough lanes for every thread to find a part while others hold theirs.
// Runs of 2 to min_lanes jobs split the flows alike, so their contexts
// meet the reassembly memory bound alike too, and their output agrees even
// when the bound makes a run drop state.
constexpr unsigned min_lanes = 16;

// What a fatal signal's handler needs to write the batches that are decoded
// but not yet written: the batches in flight, by their number in frame
// order, in a ring that holds more than can be in flight. The reading
// thread puts a batch in when its parts are queued and counts it written
// once its text went out; the handler only reads.
struct fault_ring {
    batch** slots;
    unsigned long size;
    std::atomic<unsigned long> submitted{0};
    std::atomic<unsigned long> written{0};
};
std::atomic<fault_ring*> ring{nullptr};
static_assert(std::atomic<unsigned long>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler reads these");

// Who writes batch text to the output now: nobody, the reading thread, or
// a fatal signal's handler, which keeps it until the signal ends the
// process. Between them no batch is written twice or out of order.
enum : int { output_free, output_reader, output_fault };
std::atomic<int> output_owner{output_free};
std::atomic<long> reading_thread{0};
std::atomic<long> fault_thread{0};

long thread_id() { return syscall(SYS_gettid); }

void claim_output() {
    int expected = output_free;
    while (!output_owner.compare_exchange_weak(expected, output_reader)) {
        // A fatal signal's handler writes the rest; its signal ends the
        // process, this thread only waits for that.
        if (expected == output_fault)
            for (;;) pause();
        expected = output_free;
    }
}

void release_output() { output_owner.store(output_free); }

void prefetch(const void* at, size_t length) {
    for (size_t i = 0; i < length; i += 64) __builtin_prefetch(static_cast<const char*>(at) + i);
}

void decode_part(decode_context& cx, batch& b, batch_part& part) {
    part.outputs.clear();
    std::vector<frame_fact>& facts = stats_thread_facts();
    facts.swap(part.facts);
    facts.clear();
    const std::vector<size_t>& order = part.frames;
    for (size_t i = 0; i < order.size(); ++i) {
        // The reading thread wrote the slots and read the bytes on another
        // core: asking for the next ones ahead hides most of the wait.
        if (i + 2 < order.size()) prefetch(&b.frames[order[i + 2]], sizeof(frame_slot));
        if (i + 1 < order.size()) {
            const frame_slot& next = b.frames[order[i + 1]];
            prefetch(slot_bytes(b, next), std::min<size_t>(next.frame.lengths.captured_length, 256));
        }
        const frame_slot& slot = b.frames[order[i]];
        size_t text_start = cx.out.length;
        bool shown = decode_slot(cx, slot, slot_bytes(b, slot));
        // A frame --where rejects leaves no text.
        if (!shown) cx.out.length = text_start;
        part.outputs.push_back({cx.out.length, cx.stream_pieces.size(), facts.size(), shown});
    }
    if (!part.text.data) {
        part.text.capacity = 1 << 16;
        part.text.data = static_cast<char*>(zelk_xmalloc(part.text.capacity));
    }
    std::swap(part.text.data, cx.out.data);
    std::swap(part.text.capacity, cx.out.capacity);
    part.text.length = cx.out.length;
    cx.out.length = 0;
    part.pieces.swap(cx.stream_pieces);
    cx.stream_pieces.clear();
    part.facts.swap(facts);
}

// Under the pool's lock: the lane with the oldest part no thread is
// decoding; false when there is none.
bool take_part(unsigned& lane) {
    unsigned long oldest = 0;
    bool found = false;
    for (unsigned l = 0; l < pool_lanes; ++l) {
        if (pool->lane_busy[l] || pool->queues[l].empty()) continue;
        unsigned long number = pool->queues[l].front()->number;
        if (!found || number < oldest) {
            oldest = number;
            lane = l;
            found = true;
        }
    }
    if (found) pool->lane_busy[lane] = 1;
    return found;
}

// Decodes the lane's next part; the lock is held on entry and on return.
void decode_next_part(std::unique_lock<std::mutex>& hold, unsigned lane) {
    batch* b = pool->queues[lane].front();
    hold.unlock();
    decode_part(*pool->contexts[lane], *b, b->parts[lane]);
    hold.lock();
    pool->queues[lane].pop_front();
    pool->lane_busy[lane] = 0;
    // The lane's next part may wait for a thread that found none.
    if (!pool->queues[lane].empty()) pool->work_ready.notify_one();
    if (--b->parts_left == 0) pool->work_done.notify_all();
}

void worker_main() {
    std::unique_lock<std::mutex> hold(pool->lock);
    for (;;) {
        unsigned lane = 0;
        bool taken = false;
        pool->work_ready.wait(hold, [&] {
            taken = take_part(lane);
            return taken || pool->stopping;
        });
        if (!taken) return;
        decode_next_part(hold, lane);
    }
}

// The batch's text goes out in frame order in one gathered write, straight
// from the workers' buffers: the reading thread never touches it.
void write_batch(batch& b) {
    std::vector<iovec>& pieces = pool->pieces;
    pieces.clear();
    for (const frame_slot& slot : b.frames) {
        const batch_part& part = b.parts[slot.lane];
        size_t begin = slot.place ? part.outputs[slot.place - 1].text_end : 0;
        size_t length = part.outputs[slot.place].text_end - begin;
        if (length == 0) continue;
        char* text = part.text.data + begin;
        if (!pieces.empty() && static_cast<char*>(pieces.back().iov_base) + pieces.back().iov_len == text)
            pieces.back().iov_len += length;
        else
            pieces.push_back({text, length});
    }
    claim_output();
    int error = zelk_write_gathered(pieces.data(), static_cast<int>(pieces.size()));
    ring.load()->written.fetch_add(1);
    release_output();
    if (error) report_output_failure(error);
    for (const frame_slot& slot : b.frames) {
        if (!b.parts[slot.lane].outputs[slot.place].shown) continue;
        frame_side_work(slot, slot_bytes(b, slot));
        batch_part& part = b.parts[slot.lane];
        size_t begin = slot.place ? part.outputs[slot.place - 1].pieces_end : 0;
        for (size_t i = begin; i < part.outputs[slot.place].pieces_end; ++i) collect_tcp_stream_piece(part.pieces[i]);
        begin = slot.place ? part.outputs[slot.place - 1].facts_end : 0;
        for (size_t i = begin; i < part.outputs[slot.place].facts_end; ++i) take_frame_fact(part.facts[i]);
    }
    check_frame_output();
}

void write_oldest() {
    std::unique_ptr<batch> oldest = std::move(pool->in_flight.front());
    pool->in_flight.pop_front();
    {
        // Rather than wait, the reading thread decodes parts itself.
        std::unique_lock<std::mutex> hold(pool->lock);
        while (oldest->parts_left != 0) {
            unsigned lane;
            if (take_part(lane))
                decode_next_part(hold, lane);
            else
                pool->work_done.wait(hold);
        }
    }
    write_batch(*oldest);
    oldest->frames.clear();
    oldest->bytes.clear();
    oldest->stay_length = 0;
    for (batch_part& part : oldest->parts) {
        part.frames.clear();
        part.pieces.clear();
        part.facts.clear();
        part.text.length = 0;
    }
    pool->spare.push_back(std::move(oldest));
}

void submit_filling() {
    if (!pool->filling || pool->filling->frames.empty()) return;
    batch* b = pool->filling.get();
    pool->in_flight.push_back(std::move(pool->filling));
    {
        std::lock_guard<std::mutex> hold(pool->lock);
        b->number = pool->batches;
        for (unsigned lane = 0; lane < pool_lanes; ++lane) {
            if (b->parts[lane].frames.empty()) continue;
            ++b->parts_left;
            pool->queues[lane].push_back(b);
        }
    }
    // Only now, with its parts counted, may a fatal signal's handler look
    // at the batch.
    fault_ring& r = *ring.load();
    unsigned long number = r.submitted.load();
    r.slots[number % r.size] = b;
    r.submitted.store(number + 1);
    ++pool->batches;
    pool->work_ready.notify_all();
    // A batch a thread and one more keep every thread busy, as any thread
    // takes any lane; more only costs memory and cache.
    while (pool->in_flight.size() > pool_jobs + 1) write_oldest();
}

void merge_counters(protocol_counters& from) {
#define NODRIX_MERGE_COUNTER(name) \
    counters.name += from.name;    \
    from.name = 0;
    NODRIX_REPORT_COUNTERS(NODRIX_MERGE_COUNTER)
    NODRIX_MORE_COUNTERS(NODRIX_MERGE_COUNTER)
#undef NODRIX_MERGE_COUNTER
}

}  // namespace

namespace {

// --- live capture behind a queue ---

// A live frame waiting for the decoding thread.
struct live_frame {
    frame_slot slot;
    std::vector<uint8_t> bytes;
};

// The capture thread only receives and queues; one thread decodes, writes
// and does the side work, in order. A full queue holds the capture thread
// back, so the kernel's buffer takes the excess and its drops are counted
// as usual.
struct live_stage {
    std::thread thread;
    std::mutex lock;
    std::condition_variable ready;
    std::condition_variable changed;
    std::deque<std::unique_ptr<live_frame>> queue;
    // Decoded frames kept for reuse, their buffers grown already; the
    // capture thread takes them all at once into `reuse`, its own.
    std::vector<std::unique_ptr<live_frame>> spare;
    std::vector<std::unique_ptr<live_frame>> reuse;
    size_t queued_bytes = 0;  // queued and taken
    size_t taken_frames = 0;  // taken by the decoding thread, not yet decoded
    bool busy = false;
    bool stopping = false;
    // The decoding thread waits for frames. A source that hands over
    // frames in bursts wakes it when frames pile up, have waited a while, or
    // no more come (frame_loop_flush); others wake it with every frame.
    // Waking a thread on another core is dear, dearer than the frame's
    // decoding on some virtual machines.
    bool sleeping = false;
    bool bursts = false;
    std::chrono::steady_clock::time_point waiting_since;  // the first frame not woken for
    // Threads waiting on `changed` (a full queue, or a drain): the decoding
    // thread wakes them only then, not for every frame.
    unsigned waiting = 0;
    zelk_text text;
    decode_context cx{text};
};

constexpr size_t live_queue_frames = 1 << 16;
constexpr size_t live_wake_frames = 64;
constexpr size_t live_take_frames = 64;
constexpr std::chrono::milliseconds live_wake_after{5};
// At most this many decoded frames (of at most this many bytes) are kept.
constexpr size_t live_spare_frames = 1024;
constexpr size_t live_spare_bytes = 16384;
constexpr size_t live_queue_bytes = 64u << 20;

live_stage* live = nullptr;
bool live_wanted = false;
bool live_bursts = false;

void live_main() {
    decode_context& cx = live->cx;
    std::vector<std::unique_ptr<live_frame>> taken;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(live->lock);
            // The frames decoded last time go back for reuse.
            for (auto& f : taken)
                if (live->spare.size() < live_spare_frames && f->bytes.capacity() <= live_spare_bytes)
                    live->spare.push_back(std::move(f));
            taken.clear();
            live->busy = false;
            if (live->waiting) live->changed.notify_all();
            live->sleeping = true;
            live->ready.wait(hold, [] { return live->stopping || !live->queue.empty(); });
            live->sleeping = false;
            if (live->queue.empty()) return;
            // A few frames a turn of the lock; the queue's bound counts them
            // until they are decoded.
            while (!live->queue.empty() && taken.size() < live_take_frames) {
                taken.push_back(std::move(live->queue.front()));
                live->queue.pop_front();
            }
            live->busy = true;
            live->taken_frames = taken.size();
        }
        for (auto& f : taken) {
            if (decode_slot(cx, f->slot, f->bytes.data())) frame_side_work(f->slot, f->bytes.data());
            for (tcp_stream_piece& piece : cx.stream_pieces) collect_tcp_stream_piece(piece);
            cx.stream_pieces.clear();
            take_thread_facts();
        }
        size_t bytes = 0;
        for (auto& f : taken) bytes += f->bytes.size();
        bool idle;
        {
            std::lock_guard<std::mutex> hold(live->lock);
            live->queued_bytes -= bytes;
            live->taken_frames = 0;
            idle = live->queue.empty();
        }
        // The frames are shown as soon as no other one waits; a flood is
        // written in large pieces instead of a system call per frame.
        if (idle) {
            zelk_drain(cx.out);
            if (fflush(cx.out.sink) != 0)
                report_output_failure(errno);
            else if (int error = zelk_output_error())
                report_output_failure(error);
            check_raw_log();
        }
    }
}

void live_enqueue(const captured_frame& frame) {
    if (!live) {
        live = new live_stage;
        live->text.sink = zelk_output();
        live->text.suppressed = zelk_main_text().suppressed;
        live->bursts = live_bursts;
        live->thread = std::thread(live_main);
    }
    std::unique_ptr<live_frame> f;
    if (live->reuse.empty()) {
        std::lock_guard<std::mutex> hold(live->lock);
        live->reuse.swap(live->spare);
    }
    if (!live->reuse.empty()) {
        f = std::move(live->reuse.back());
        live->reuse.pop_back();
    } else {
        f = std::make_unique<live_frame>();
    }
    fill_slot(f->slot, frame);
    f->bytes.assign(frame.bytes, frame.bytes + frame.lengths.captured_length);
    bool wake;
    {
        std::unique_lock<std::mutex> hold(live->lock);
        ++live->waiting;
        live->changed.wait(hold, [] {
            return live->queue.size() + live->taken_frames < live_queue_frames && live->queued_bytes < live_queue_bytes;
        });
        --live->waiting;
        live->queued_bytes += f->bytes.size();
        live->queue.push_back(std::move(f));
        // A decoding thread with work in its queue is awake already; within
        // a burst it is woken when enough frames wait.
        wake = live->sleeping && (!live->bursts || live->queue.size() >= live_wake_frames);
        if (wake)
            live->sleeping = false;
        else if (live->sleeping && live->queue.size() == 1)
            live->waiting_since = std::chrono::steady_clock::now();
    }
    if (wake) live->ready.notify_one();
}

void live_drain() {
    if (!live) return;
    std::unique_lock<std::mutex> hold(live->lock);
    if (live->sleeping && !live->queue.empty()) {
        live->sleeping = false;
        live->ready.notify_one();
    }
    ++live->waiting;
    live->changed.wait(hold, [] { return live->queue.empty() && !live->busy; });
    --live->waiting;
}

}  // namespace

void frame_loop_start(unsigned jobs) {
    // A live capture decodes on one thread of its own behind the capture
    // thread; files spread over `jobs` decoding threads.
    live_wanted = jobs > 1 && !capture.reading_file && !settings.pcap_file && !settings.iptrace_file &&
                  !settings.snoop_file;
    pool_jobs = live_wanted ? 1 : jobs;
}

namespace {

// The threads start with the first frame: by then the run has become a
// daemon and dropped its privileges, and a fork keeps only the thread that
// calls it.
void start_workers() {
    unsigned jobs = pool_jobs;
    pool_lanes = std::max(jobs, min_lanes);
    reassembly_set_contexts(pool_lanes);
    pool = new worker_pool;
    pool->queues.resize(pool_lanes);
    pool->lane_busy.assign(pool_lanes, 0);
    for (unsigned i = 0; i < pool_lanes; ++i) {
        pool->texts.push_back(std::make_unique<zelk_text>());
        pool->contexts.push_back(std::make_unique<decode_context>(*pool->texts.back()));
        pool->contexts.back()->out.suppressed = zelk_main_text().suppressed;
    }
    // At most jobs + 2 batches are in flight. A ring of an earlier
    // pool is empty, and kept when it is large enough.
    fault_ring* r = ring.load();
    if (!r || r->size < jobs + 3ul) {
        ring.store(nullptr);
        if (r) delete[] r->slots;
        delete r;
        r = new fault_ring;
        r->size = jobs + 3ul;
        r->slots = new batch*[r->size]();
    }
    r->submitted.store(0);
    r->written.store(0);
    reading_thread.store(thread_id());
    ring.store(r);
    // The reading thread is one of the decoding threads.
    for (unsigned i = 1; i < jobs; ++i) pool->threads.emplace_back(worker_main);
}

}  // namespace

bool frame_loop_parallel() { return pool != nullptr; }

void frame_loop_handle(const captured_frame& frame) {
    ++capture.frame_counter;
    capture.byte_total += frame.lengths.wire_length;
    capture.captured_bytes += frame.lengths.captured_length;
    note_frame_time(frame.seconds, frame.microseconds);
    if (live_wanted) {
        live_enqueue(frame);
        return;
    }
    if (!pool && pool_jobs > 1) start_workers();
    if (!pool) {
        frame_slot slot;
        fill_slot(slot, frame);
        decode_context& cx = main_context();
        if (decode_slot(cx, slot, frame.bytes)) frame_side_work(slot, frame.bytes);
        for (tcp_stream_piece& piece : cx.stream_pieces) collect_tcp_stream_piece(piece);
        cx.stream_pieces.clear();
        zelk_mark_frame_end(cx.out);
        take_thread_facts();
        // A live capture shows every frame at once; a file is written out as
        // the buffer fills, which saves a system call per frame.
        if ((!capture.reading_file || settings.immediate) && zelk_flush(stdout) != 0) report_output_failure(errno);
        check_frame_output();
        return;
    }
    if (!pool->filling) {
        if (pool->spare.empty()) {
            pool->filling = std::make_unique<batch>();
            pool->filling->parts.resize(pool_lanes);
        } else {
            pool->filling = std::move(pool->spare.back());
            pool->spare.pop_back();
        }
    }
    batch& b = *pool->filling;
    b.frames.emplace_back();
    frame_slot& slot = b.frames.back();
    fill_slot(slot, frame);
    // Frames between the same two hosts share a lane; frames without an
    // IP header carry no flow state and go with the batch's turn.
    uint64_t flow = flow_of(frame);
    slot.lane = static_cast<unsigned>((flow ? flow : pool->batches) % pool_lanes);
    slot.place = static_cast<unsigned>(b.parts[slot.lane].frames.size());
    b.parts[slot.lane].frames.push_back(b.frames.size() - 1);
    if (frame.bytes_stay) {
        slot.stay_bytes = frame.bytes;
        b.stay_length += frame.lengths.captured_length;
    } else {
        slot.stay_bytes = nullptr;
        slot.bytes_at = b.bytes.size();
        b.bytes.insert(b.bytes.end(), frame.bytes, frame.bytes + frame.lengths.captured_length);
    }
    if (b.frames.size() >= batch_frames || b.bytes.size() + b.stay_length >= batch_bytes) submit_filling();
}

void frame_loop_flush() {
    live_bursts = true;
    if (!live) return;
    bool wake;
    {
        std::lock_guard<std::mutex> hold(live->lock);
        live->bursts = true;
        wake = live->sleeping && !live->queue.empty();
        if (wake) live->sleeping = false;
    }
    if (wake) live->ready.notify_one();
}

bool frame_loop_frames_waiting() {
    live_bursts = true;
    if (!live) return false;
    bool late;
    {
        std::lock_guard<std::mutex> hold(live->lock);
        live->bursts = true;
        if (!live->sleeping || live->queue.empty()) return false;
        late = std::chrono::steady_clock::now() - live->waiting_since >= live_wake_after;
        if (late) live->sleeping = false;
    }
    if (late) live->ready.notify_one();
    return !late;
}

void frame_loop_wait() {
    if (live) live_drain();
    if (pool) {
        submit_filling();
        while (!pool->in_flight.empty()) write_oldest();
    }
}

void frame_loop_drain() {
    frame_loop_wait();
    // What reassembly still holds is counted as incomplete, in every
    // context, before the counters come together.
    if (live) {
        reassembly_finish(live->cx);
        merge_counters(live->cx.counters);
    }
    if (pool) {
        for (auto& cx : pool->contexts) {
            reassembly_finish(*cx);
            merge_counters(cx->counters);
        }
    }
    reassembly_finish(main_context());
    merge_counters(main_context().counters);
}

void frame_loop_stop() {
    frame_loop_drain();
    if (live) {
        {
            std::lock_guard<std::mutex> hold(live->lock);
            live->stopping = true;
        }
        live->ready.notify_all();
        live->thread.join();
        delete live;
        live = nullptr;
    }
    if (!pool) return;
    {
        std::lock_guard<std::mutex> hold(pool->lock);
        pool->stopping = true;
    }
    pool->work_ready.notify_all();
    for (auto& t : pool->threads) t.join();
    // Every batch is written: the ring stays (a handler may be reading
    // it), empty.
    delete pool;
    pool = nullptr;
}

decode_context& frame_loop_main_context() { return main_context(); }

void frame_loop_write_at_fault() {
    fault_ring* r = ring.load();
    if (!r) return;
    long self = thread_id();
    int expected = output_free;
    for (int waited = 0; !output_owner.compare_exchange_strong(expected, output_fault); ++waited) {
        // Another fault's handler writes already: its signal ends the
        // process. A fault inside this very handler writes nothing more.
        if (expected == output_fault) {
            if (fault_thread.load() == self) return;
            for (;;) pause();
        }
        // The reading thread is writing a batch. When this handler
        // interrupted that very write, how much of it went out is unknown;
        // a write that does not finish within two seconds is not waited for.
        if (reading_thread.load() == self || waited >= 2000) return;
        poll(nullptr, 0, 1);
        expected = output_free;
    }
    fault_thread.store(self);
    int fd = zelk_output_fd_at_fault();
    if (fd < 0) return;
    unsigned long end = r->submitted.load();
    bool text_first = true;
    for (unsigned long number = r->written.load(); number < end; ++number) {
        const batch& b = *r->slots[number % r->size];
        if (b.parts_left.load() != 0) break;
        // What the main buffer holds (the start-up lines, a message of the
        // reading thread) goes out before the next batch, as it does there.
        if (text_first) zelk_write_text_at_fault();
        text_first = false;
        const char* run = nullptr;
        size_t run_length = 0;
        for (const frame_slot& slot : b.frames) {
            const batch_part& part = b.parts[slot.lane];
            size_t begin = slot.place ? part.outputs[slot.place - 1].text_end : 0;
            size_t length = part.outputs[slot.place].text_end - begin;
            const char* text = part.text.data + begin;
            if (length == 0) continue;
            if (run && run + run_length == text) {
                run_length += length;
                continue;
            }
            if (run) zelk_write_at_fault(fd, run, run_length);
            run = text;
            run_length = length;
        }
        if (run) zelk_write_at_fault(fd, run, run_length);
        r->written.store(number + 1);
    }
}
