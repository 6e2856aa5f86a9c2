// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Fuzz target: the device's reply stream into the transfer core.
//
// Input, read from the front (fuzz_input.h; missing bytes read as zero):
//   byte 0     flags: bits 0-1 the port: 0 or 3 open, 1 closed from write K
//              on (the transfer reports NoPort and goes on), 2 failing at
//              write K (Write throws; the caller reports PortFailed);
//              bit 2 a clean device's stream, shaped by the rest; bit 3 how
//              the run ends: by the send button (0) or a port failure (1);
//              bit 4 more replies come after the end; bit 5 files of any
//              size, else of at most 4,096 bytes
//   bytes 1-2  file size, little-endian (0 to 65,535; without bit 5 mod 4,097)
//   byte 3     seed of the file's bytes; byte 4 what an earlier file left
//   byte 5     K, the write (0 is the burst) where the port closes or fails
//   byte 6     n; then n % 8 bytes of the start address text
//   the rest   raw stream: chunks, each a length byte and that many bytes,
//              handed to the transfer as the reader would;
//              clean stream: a byte for each packet: bit 7 the device rejects
//              it once with F4 first, bit 6 the chunk ends after its 05,
//              bit 5 the chunk ends after its 06 (else "06 05" come together)
//
// Oracles: a reference of the protocol (which packet is due, what each reply
// allows) predicts every write and event: the burst first, then for each 05
// exactly the packet due (the same one again after F4), nothing for any other
// byte, nothing after the outcome. Independently: no more writes in a chunk
// than it has 05 bytes, progress rises in 32-byte steps up to the file length,
// the outcome event comes exactly once, and on a clean stream through an open
// port the emulator's device model, fed every packet written, answers what the
// stream answered and rebuilds the image byte for byte.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "tools/emulator/device_model.h"
#include "transfer_adapter.h"

namespace zelk::fuzz {
namespace {

using TBytes = std::vector<std::uint8_t>;
using TPacket = std::array<std::uint8_t, 36>;

// Fixed size, no allocation: a run records thousands of them.
struct TEvent {
    enum TKind : std::uint8_t { Starting, Started, Write, NoPort, Progress, Mismatch, Finished } Kind;
    std::int32_t A = 0;  // a write's length
    std::int32_t B = 0;
    std::array<std::uint8_t, 36> Bytes{};

    // Not by memcmp: a run compares thousands, and a call through the
    // sanitizers' checks cost more than the comparing. Word by word, as values.
    bool operator==(const TEvent& o) const {
        using TWords = std::array<std::uint32_t, 9>;
        const auto mine = std::bit_cast<TWords>(Bytes);
        const auto theirs = std::bit_cast<TWords>(o.Bytes);
        std::uint32_t differ = 0;
        for (std::size_t i = 0; i < mine.size(); ++i) differ |= mine[i] ^ theirs[i];
        return Kind == o.Kind && A == o.A && B == o.B && differ == 0;
    }

    static TEvent Written(std::span<const std::uint8_t> bytes) {
        TEvent e{Write, static_cast<std::int32_t>(bytes.size())};
        // A packet's copy, of a known size, takes no call; the burst's is once a run.
        if (bytes.size() >= e.Bytes.size())
            std::memcpy(e.Bytes.data(), bytes.data(), e.Bytes.size());
        else
            std::copy(bytes.begin(), bytes.end(), e.Bytes.begin());
        return e;
    }
    std::span<const std::uint8_t> Written() const {
        return {Bytes.data(), std::min(static_cast<std::size_t>(A), Bytes.size())};
    }
};

std::string Describe(const TEvent& e) {
    static const char* const kNames[] = {"Starting", "Started", "Write", "NoPort", "Progress", "Mismatch", "Finished"};
    std::string s = kNames[e.Kind];
    s += "(" + std::to_string(e.A) + ", " + std::to_string(e.B) + ")";
    if (e.Kind == TEvent::Write) s += " " + Hex(e.Written());
    return s;
}

std::string DescribeFrom(const std::vector<TEvent>& events, std::size_t from) {
    std::string s;
    for (std::size_t i = from; i < events.size(); ++i) s += "\n    " + Describe(events[i]);
    return s.empty() ? "\n    (nothing)" : s;
}

// The port and the window at once: records what the transfer does, in order,
// and checks what needs no reference.
class TRecorder : public TTransferEvents, public TPortLink {
public:
    enum class TPortMode { Open, ClosedFromK, FailsAtK };

    TRecorder(std::vector<TEvent>& events, std::string startText, TPortMode mode, int k, std::int32_t fileLen)
        : Events(events), startText_(std::move(startText)), mode_(mode), k_(k), fileLen_(fileLen) {}

    std::vector<TEvent>& Events;
    int Finishes = 0;

    std::string StartText() const override { return startText_; }
    void Starting() override { Add({TEvent::Starting}); }
    void Started(std::int32_t total) override { Add({TEvent::Started, total}); }
    void Progress(std::int32_t sent) override {
        ZELK_FUZZ_CHECK(sent == lastProgress_ + 32 && sent <= fileLen_,
                        "progress " + std::to_string(sent) + " after " + std::to_string(lastProgress_) +
                            ", file length " + std::to_string(fileLen_));
        lastProgress_ = sent;
        Add({TEvent::Progress, sent});
    }
    void ChecksumMismatch(std::int32_t total, std::int32_t inARow) override {
        Add({TEvent::Mismatch, total, inARow});
    }
    void Finished(TOutcome outcome) override {
        ++Finishes;
        Add({TEvent::Finished, static_cast<int>(outcome)});
    }
    void NoPort() override { Add({TEvent::NoPort}); }

    bool Write(std::span<const std::uint8_t> bytes) override {
        const int index = writes_++;
        if (mode_ == TPortMode::FailsAtK && index == k_) throw std::runtime_error("the port failed");
        if (mode_ == TPortMode::ClosedFromK && index >= k_) return false;
        ZELK_FUZZ_CHECK(bytes.size() == 3 || bytes.size() == 36, "a write of " + std::to_string(bytes.size()) + " bytes");
        Add(TEvent::Written(bytes));
        return true;
    }

private:
    void Add(TEvent e) {
        ZELK_FUZZ_CHECK(Finishes == 0 || e.Kind == TEvent::Finished, "after the outcome: " + Describe(e));
        ZELK_FUZZ_CHECK(Finishes <= 1, "a second outcome: " + Describe(e));
        Events.push_back(std::move(e));
    }

    std::string startText_;
    TPortMode mode_;
    int k_;
    std::int32_t fileLen_;
    int writes_ = 0;
    std::int32_t lastProgress_ = 0;
};

// What the protocol says the transfer does, reply by reply.
class TReference {
public:
    // `file` is the file; the transfer sends it padded with zeros to `pages` pages.
    TReference(std::vector<TEvent>& events, std::span<const std::uint8_t> file, int pages, std::uint8_t s,
               TRecorder::TPortMode mode, int k)
        : Events(events), file_(file), s_(s), pages_(pages), mode_(mode), k_(k) {}

    std::vector<TEvent>& Events;
    bool Ended() const { return ended_; }
    // Whether the port failed under the last step, once.
    bool TakeThrew() { return std::exchange(threw_, false); }

    void Start() {
        Events.push_back({TEvent::Starting});
        Events.push_back({TEvent::Started, pages_ * 256});
        const std::uint8_t burst[] = {0x55, 0x55, 0x55};
        Write(burst);
        phase_ = TPhase::AwaitRequest;
    }
    // One reply byte; false once the transfer no longer takes replies from this chunk.
    bool Reply(std::uint8_t r) {
        if (ended_ || threw_) return false;
        if (phase_ == TPhase::AwaitRequest) {
            if (r != 0x05) return End(TOutcome::Failed);
            if (next_ < pages_ * 9) {
                const TPacket p = PacketAt(next_);
                Write(p);
                if (!threw_) phase_ = TPhase::AwaitReply;
            }
            return !threw_;
        }
        if (r == 0x06) {
            inARow_ = 0;
            if (next_ % 9 != 0) Events.push_back({TEvent::Progress, (next_ / 9) * 256 + (next_ % 9) * 32});
            if (++next_ == pages_ * 9) return End(TOutcome::Done);
            phase_ = TPhase::AwaitRequest;
        } else if (r == 0xF4) {
            Events.push_back({TEvent::Mismatch, ++mismatches_, ++inARow_});
            phase_ = TPhase::AwaitRequest;
        } else {
            return End(TOutcome::Failed);
        }
        return true;
    }
    // The send button or a port failure while it runs; nothing once it has ended.
    void End(TOutcome how, bool running) {
        if (running && !ended_) End(how);
    }
    // Packet i of the upload: page i / 9, its header first, then its pieces.
    TPacket PacketAt(int i) const {
        const int page = i / 9;
        const int j = i % 9;
        const auto c = static_cast<std::uint8_t>(pages_);
        const auto block = static_cast<std::uint8_t>(s_ + 2 * c - page);
        TPacket p{};
        p[0] = 0xE6;
        if (j == 0) {
            if (page == 0) {
                p[3 + 29] = s_;
                p[3 + 30] = p[3 + 31] = c;
            } else {
                p[2] = block;
            }
        } else {
            const int piece = j - 1;
            p[1] = static_cast<std::uint8_t>(piece == 0 ? 8 : piece);
            p[2] = block;
            // The file's bytes, zeros past its end.
            const std::size_t from = static_cast<std::size_t>(page) * 256 + static_cast<std::size_t>(piece) * 32;
            if (from < file_.size()) {
                const std::size_t n = std::min<std::size_t>(32, file_.size() - from);
                std::copy_n(file_.begin() + static_cast<std::ptrdiff_t>(from), n, p.begin() + 3);
            }
        }
        unsigned sum = 0;
        for (int b = 1; b <= 34; ++b) sum += p[b];
        p[35] = static_cast<std::uint8_t>(sum);
        return p;
    }

private:
    enum class TPhase { AwaitRequest, AwaitReply };

    bool End(TOutcome outcome) {
        ended_ = true;
        Events.push_back({TEvent::Finished, static_cast<int>(outcome)});
        return false;
    }
    void Write(std::span<const std::uint8_t> bytes) {
        const int index = writes_++;
        if (mode_ == TRecorder::TPortMode::FailsAtK && index == k_) {
            threw_ = true;
            return;
        }
        if (mode_ == TRecorder::TPortMode::ClosedFromK && index >= k_)
            Events.push_back({TEvent::NoPort});
        else
            Events.push_back(TEvent::Written(bytes));
    }

    std::span<const std::uint8_t> file_;
    std::uint8_t s_;
    int pages_;
    TRecorder::TPortMode mode_;
    int k_;
    TPhase phase_ = TPhase::AwaitRequest;
    int next_ = 0;  // packets accepted
    int writes_ = 0;
    std::int32_t mismatches_ = 0;
    std::int32_t inARow_ = 0;
    bool ended_ = false;
    bool threw_ = false;
};

// A clean device's replies: 05 and 06 for every packet, F4 first where the
// input says, cut into chunks where it says: Chunk(i) is bytes Cuts[i] to
// Cuts[i + 1] of Bytes. Also the packets rejected, by their number in order
// of arrival (from 1), for the device model. Kept from run to run, so that
// a run allocates nothing.
struct TCleanStream {
    TBytes Bytes;
    std::vector<std::size_t> Cuts;
    std::set<int> Rejected;

    std::size_t Count() const { return Cuts.size() - 1; }
    std::span<const std::uint8_t> Chunk(std::size_t i) const {
        return std::span<const std::uint8_t>(Bytes).subspan(Cuts[i], Cuts[i + 1] - Cuts[i]);
    }
};

void MakeCleanStream(TFuzzInput& in, int packets, TCleanStream& clean) {
    clean.Bytes.clear();
    clean.Cuts.assign(1, 0);
    clean.Rejected.clear();
    int seq = 0;
    const auto cut = [&] { clean.Cuts.push_back(clean.Bytes.size()); };
    for (int i = 0; i < packets; ++i) {
        const std::uint8_t shape = in.Byte();
        if (shape & 0x80) {
            clean.Bytes.insert(clean.Bytes.end(), {0x05, 0xF4});
            clean.Rejected.insert(++seq);
        }
        clean.Bytes.push_back(0x05);
        ++seq;
        if (shape & 0x40) cut();
        clean.Bytes.push_back(0x06);
        if (shape & 0x20) cut();
    }
    // An empty file: the device asks for the first header, which never comes.
    if (packets == 0) clean.Bytes.push_back(0x05);
    if (clean.Bytes.size() > clean.Cuts.back()) cut();
}

// The file of `size` bytes from `seed`: the bytes of a linear congruential
// generator. Each seed's 65,535 bytes are made once, the first time a run
// asks for them; a run takes a prefix.
std::span<const std::uint8_t> File(std::uint8_t seed, std::size_t size) {
    static std::array<TBytes, 256> files;
    TBytes& file = files[seed];
    if (file.empty()) {
        file.resize(65535);
        std::uint32_t lcg = seed;
        for (auto& b : file) {
            lcg = lcg * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(lcg >> 16);
        }
    }
    return std::span<const std::uint8_t>(file).first(size);
}

// The events from `from` on; those before it were compared already.
void CheckSame(const std::vector<TEvent>& got, const TReference& ref, std::size_t from, const char* when,
               std::span<const std::uint8_t> chunk = {}) {
    if (got.size() == ref.Events.size() && std::equal(got.begin() + static_cast<std::ptrdiff_t>(from), got.end(),
                                                       ref.Events.begin() + static_cast<std::ptrdiff_t>(from)))
        return;
    std::size_t first = from;
    while (first < got.size() && first < ref.Events.size() && got[first] == ref.Events[first]) ++first;
    Fail(__FILE__, __LINE__, "the transfer does what the protocol says",
         when + Hex(chunk) + "; from event " + std::to_string(first) + " the transfer did:" + DescribeFrom(got, first) +
             "\n  where the protocol says:" + DescribeFrom(ref.Events, first));
}

void Run(const std::uint8_t* data, std::size_t size) {
    TFuzzInput in(data, size);
    const std::uint8_t flags = in.Byte();
    const auto mode = std::array{TRecorder::TPortMode::Open, TRecorder::TPortMode::ClosedFromK,
                                 TRecorder::TPortMode::FailsAtK, TRecorder::TPortMode::Open}[flags & 3];
    const bool clean = (flags & 0x04) != 0;
    const bool endByPortFailure = (flags & 0x08) != 0;
    const bool repliesAfterEnd = (flags & 0x10) != 0;
    // Files of more than 16 pages only when bit 5 asks for them: they are slow
    // to run and only the page count byte (0 for 256 pages) and the end of
    // the image behave differently.
    const std::size_t fileSize = (flags & 0x20) != 0 ? in.Word() : in.Word() % 4097;
    const std::uint8_t seed = in.Byte();
    const std::uint8_t stale = in.Byte();
    const int k = in.Byte();
    const auto startBytes = in.Take(in.Byte() % 8);
    const std::string startText(startBytes.begin(), startBytes.end());

    const std::span<const std::uint8_t> file = File(seed, fileSize);
    // Kept from run to run: a run allocates nothing it does not need.
    static std::vector<TEvent> got;
    static std::vector<TEvent> want;
    got.clear();
    want.clear();
    TRecorder recorder(got, startText, mode, k, RoundFileLen(static_cast<std::int32_t>(fileSize)));
    TTransferUnderTest transfer(recorder, recorder);
    transfer.Load(file, stale);
    const int pages = transfer.FileLen() / 256;
    TReference ref(want, file, pages, StartPage(startText), mode, k);

    const auto deliver = [&](std::span<const std::uint8_t> chunk) {
        const std::size_t mark = recorder.Events.size();
        std::size_t requests = 0;
        bool taking = true;
        for (const std::uint8_t r : chunk) {
            requests += r == 0x05;
            taking = taking && ref.Reply(r);
        }
        bool threw = false;
        try {
            transfer.Read(chunk);
        } catch (const std::exception&) {
            threw = true;
        }
        ZELK_FUZZ_CHECK(threw == ref.TakeThrew(), std::string("the port's failure ") + (threw ? "came" : "did not come") +
                                                  " through the transfer with chunk " + Hex(chunk));
        std::size_t writes = 0;
        for (std::size_t i = mark; i < recorder.Events.size(); ++i)
            writes += recorder.Events[i].Kind == TEvent::Write || recorder.Events[i].Kind == TEvent::NoPort;
        ZELK_FUZZ_CHECK(writes <= requests, std::to_string(writes) + " packets for " + std::to_string(requests) +
                                                " requests in chunk " + Hex(chunk));
        if (threw) {
            // What the uploader does when a write fails under a reply.
            transfer.PortFailed();
            ref.End(TOutcome::Failed, true);
        }
        CheckSame(recorder.Events, ref, mark, "after chunk ", chunk);
    };

    bool startThrew = false;
    try {
        transfer.Start();
    } catch (const std::exception&) {
        startThrew = true;
    }
    ref.Start();
    ZELK_FUZZ_CHECK(startThrew == ref.TakeThrew(), "the burst's write failure and the start step disagree");
    if (startThrew) {
        transfer.PortFailed();
        ref.End(TOutcome::Failed, true);
    }
    CheckSame(recorder.Events, ref, 0, "after the start");

    static TCleanStream cleanStream;
    if (clean) {
        MakeCleanStream(in, pages * 9, cleanStream);
        for (std::size_t i = 0; i < cleanStream.Count(); ++i) deliver(cleanStream.Chunk(i));
    } else {
        while (!in.Empty()) deliver(in.Take(in.Byte()));
    }

    const bool running = transfer.Running();
    ZELK_FUZZ_CHECK(running == !ref.Ended(), "the transfer runs: " + std::to_string(running));
    const std::size_t mark = recorder.Events.size();
    if (endByPortFailure) {
        transfer.PortFailed();
        ref.End(TOutcome::Failed, running);
    } else if (running) {
        transfer.Stop();
        ref.End(TOutcome::Stopped, running);
    }
    CheckSame(recorder.Events, ref, mark, "after the end of the stream");
    ZELK_FUZZ_CHECK(recorder.Finishes == 1, "outcome events: " + std::to_string(recorder.Finishes));
    ZELK_FUZZ_CHECK(!transfer.Running(), "still running after its outcome");
    if (repliesAfterEnd) {
        const std::uint8_t late[] = {0x05, 0x06, 0x05, 0xF4, 0x05};
        transfer.Read(late);
        transfer.PortFailed();
        CheckSame(recorder.Events, ref, mark, "after replies that came after the end");
    }

    // A clean stream through an open port: the device rebuilds the file.
    if (!clean || mode != TRecorder::TPortMode::Open || pages == 0) return;
    emu::TEmulatorOptions options;
    options.RejectPackets.swap(cleanStream.Rejected);
    // Kept from run to run, its rebuilt bytes' room with it.
    static emu::TUploadResult result;
    TBytes room = std::move(result.Bytes);
    room.clear();
    result = emu::TUploadResult{};
    result.Bytes = std::move(room);
    emu::TDeviceModel device(options, result);
    // Its answers, one by one, against the stream's replies but the requests.
    const TBytes& stream = cleanStream.Bytes;
    std::size_t at = 0;
    const auto nextReply = [&]() -> int {
        while (at < stream.size() && stream[at] == 0x05) ++at;
        return at < stream.size() ? stream[at++] : -1;
    };
    std::size_t answered = 0;
    bool burst = true;  // the first write
    for (const TEvent& e : recorder.Events) {
        if (e.Kind != TEvent::Write || std::exchange(burst, false)) continue;
        ZELK_FUZZ_CHECK(e.A == 36, "a packet of " + std::to_string(e.A) + " bytes");
        const auto step = device.Packet(e.Bytes);
        for (const std::uint8_t answer : step.Reply()) {
            const int want = nextReply();
            if (answer != want) {
                const auto wanted = static_cast<std::uint8_t>(want);
                Fail(__FILE__, __LINE__, "the device model answers what the stream answered",
                     "answer " + std::to_string(answered) + " is " + Hex(std::span(&answer, 1)) + " where the stream has " +
                         (want < 0 ? std::string("no more") : Hex(std::span(&wanted, 1))));
            }
            ++answered;
        }
    }
    ZELK_FUZZ_CHECK(nextReply() < 0, "the device model answered " + std::to_string(answered) +
                                         " times, fewer than the stream");
    ZELK_FUZZ_CHECK(result.Outcome == emu::TOutcome::Completed, emu::FormatSummary(result));
    ZELK_FUZZ_CHECK(result.Bytes.size() == static_cast<std::size_t>(pages) * 256 &&
                        std::equal(file.begin(), file.end(), result.Bytes.begin()) &&
                        std::all_of(result.Bytes.begin() + static_cast<std::ptrdiff_t>(file.size()), result.Bytes.end(),
                                    [](std::uint8_t b) { return b == 0; }),
                    "the rebuilt bytes differ from the file");
    ZELK_FUZZ_CHECK(recorder.Events.back() == (TEvent{TEvent::Finished, static_cast<int>(TOutcome::Done)}),
                    "a clean upload ended with " + Describe(recorder.Events.back()));
}

}  // namespace
}  // namespace zelk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::Run(data, size);
    return 0;
}
