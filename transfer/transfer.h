// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "file_image.h"
#include "port_link.h"

namespace zelk {

enum class TState : std::uint8_t {
    Idle = 0,
    Start = 1,
    WaitHeaderReq = 2,
    WaitHeaderAck = 3,
    WaitDataReq = 4,
    WaitDataAck = 5,
};

inline constexpr int kPacketSize = 36;  // bytes of a page header or a data packet
inline constexpr int kPieceSize = 32;   // file bytes a data packet carries
// The byte the controller asks for each packet with; the programs hand it to
// the port as the driver's event character, so a request is passed on at once.
inline constexpr std::uint8_t kRequest = 0x05;

// Value of one hexadecimal digit ('0'-'9', 'A'-'F', 'a'-'f'); 0 for anything else.
int ChToInt(char c);

// Start page S from the start address text: its first two characters (UTF-8
// characters, not bytes) as hex digits.
std::uint8_t StartPage(std::string_view startText);

// The address check: two upper-case hex digits followed by "00h", as in "0100h".
// It only informs; an upload reads StartPage from whatever text there is.
bool ValidStartText(std::string_view startText);

enum class TOutcome { Done, Failed, Stopped };

// What a transfer tells whoever shows it, in the protocol's terms.
class TTransferEvents {
public:
    virtual ~TTransferEvents() = default;

    // The start address text; its first two characters give the start page.
    // Read when the first page header goes out.
    virtual std::string StartText() const = 0;

    // A transfer was asked for; its start step follows.
    virtual void Starting() = 0;
    // The start step: total bytes to send; the start burst goes out next.
    virtual void Started(std::int32_t total) = 0;
    // Bytes the device has accepted so far (32, 64, ..., total).
    virtual void Progress(std::int32_t sent) = 0;
    // The device rejected a packet: mismatches since the start, and how many
    // times in a row it has now rejected this same packet.
    virtual void ChecksumMismatch(std::int32_t total, std::int32_t inARow) = 0;
    virtual void Finished(TOutcome outcome) = 0;
    // A packet was due and no port was open; the transfer goes on as if it had gone.
    virtual void NoPort() = 0;
};

// The upload of one image to the ZELK controller. Every step runs on the
// caller's (main) thread; the object needs no locking.
class TTransfer {
public:
    TTransfer(TTransferEvents& events, TPortLink& port);

    // The file to send: the image a loader fills, and its length rounded up
    // to whole pages. Neither may change while a transfer runs.
    TImage& Image() { return image_; }
    const TImage& Image() const { return image_; }
    std::int32_t FileLen() const { return fileLen_; }
    // Throws std::logic_error while a transfer runs, or for a length that
    // is no whole number of pages within the image.
    void SetFileLen(std::int32_t fileLen);

    TState State() const { return state_; }
    std::int32_t Offset() const { return offset_; }
    std::uint8_t Piece() const { return piece_; }
    std::int32_t ErrCount() const { return errCount_; }

    bool Running() const { return state_ != TState::Idle; }

    // Starts a transfer of the loaded file; nothing when one runs already.
    void Start();
    // Stops the transfer that runs, as stopped; nothing when none runs.
    void Stop();
    // The send button: starts a transfer, or stops the one that runs.
    void Btn_z_zelkClick();
    // A chunk received from the device: every byte is a reply, one step each,
    // in order; bytes after a step that ended the transfer are ignored.
    void OnRead(std::span<const std::uint8_t> bytes);
    // The port failed under a running transfer: it ends as failed.
    void PortFailed();

private:
    // The exchange buffer: the outgoing packet, and the last chunk read in Buf[1..].
    static constexpr int kBufSize = 251;

    // One step of the machine for the current State and reply byte Buf[1].
    void SendToZELK();

    std::uint8_t BlockCountByte() const;
    std::uint8_t FirstPageNumber() const;

    // Packet builders; each sends what it built through WrBuf.
    void SendStartBurst();
    void SPtoBuf(std::int32_t offset, std::uint8_t block);
    void DPtoBuf(std::uint8_t block, std::int32_t offset, std::uint8_t piece);
    void WrBuf(int n);

    void CountMismatch();

    void Finish(TOutcome outcome);

    std::array<std::uint8_t, kBufSize> Buf{};
    TImage image_{};
    std::int32_t fileLen_ = 0;
    TState state_ = TState::Idle;
    std::int32_t offset_ = 0;
    std::uint8_t piece_ = 0;
    std::uint8_t block_ = 0;
    std::int32_t errCount_ = 0;
    std::int32_t rejectedInARow_ = 0;

    TTransferEvents& events_;
    TPortLink& port_;
};

}  // namespace zelk
