// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "transfer.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace zelk {

namespace {

// The controller's answers to a packet (its request, kRequest, is public).
constexpr std::uint8_t kAccepted = 0x06;
constexpr std::uint8_t kChecksumMismatch = 0xF4;
// The first byte of every packet, and the bytes of the start burst.
constexpr std::uint8_t kSync = 0xE6;
constexpr std::uint8_t kBurstByte = 0x55;

}  // namespace

int ChToInt(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::uint8_t StartPage(std::string_view startText) {
    // The first two characters, not bytes: a Cyrillic letter is two bytes of
    // UTF-8 but one character, and its place must not shift the second digit.
    int digits[2] = {0, 0};
    std::size_t pos = 0;
    for (int& digit : digits) {
        if (pos == startText.size()) break;
        digit = ChToInt(startText[pos++]);
        while (pos < startText.size() && (static_cast<unsigned char>(startText[pos]) & 0xC0) == 0x80) ++pos;
    }
    return static_cast<std::uint8_t>(digits[0] * 16 + digits[1]);
}

bool ValidStartText(std::string_view t) {
    const auto upperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    return t.size() == 5 && upperHex(t[0]) && upperHex(t[1]) && t.substr(2) == "00h";
}

TTransfer::TTransfer(TTransferEvents& events, TPortLink& port) : events_(events), port_(port) {}

void TTransfer::SetFileLen(std::int32_t fileLen) {
    if (Running()) throw std::logic_error("the file cannot change while a transfer runs");
    if (fileLen < 0 || fileLen > kImageSize || fileLen % kPageSize != 0)
        throw std::logic_error("file length " + std::to_string(fileLen) + " is no whole number of pages");
    fileLen_ = fileLen;
}

std::uint8_t TTransfer::BlockCountByte() const {
    return static_cast<std::uint8_t>(BlockCount(fileLen_));
}

std::uint8_t TTransfer::FirstPageNumber() const {
    return static_cast<std::uint8_t>(StartPage(events_.StartText()) + 2 * BlockCountByte());
}

void TTransfer::WrBuf(int n) {
    if (!port_.Write(std::span<const std::uint8_t>(Buf.data(), static_cast<std::size_t>(n)))) events_.NoPort();
}

void TTransfer::SendStartBurst() {
    Buf[0] = Buf[1] = Buf[2] = kBurstByte;
    WrBuf(3);
}

void TTransfer::SPtoBuf(std::int32_t offset, std::uint8_t block) {
    // Bytes 1..36 are cleared; byte 36 lies past the packet and is not sent.
    std::fill(Buf.begin() + 1, Buf.begin() + kPacketSize + 1, 0);
    Buf[0] = kSync;
    if (offset == 0) {
        const std::uint8_t s = StartPage(events_.StartText());
        const std::uint8_t c = BlockCountByte();
        Buf[32] = s;
        Buf[33] = c;
        Buf[34] = c;
        Buf[35] = static_cast<std::uint8_t>(s + c + c);
    } else {
        Buf[2] = block;
        Buf[35] = block;
    }
    WrBuf(kPacketSize);
}

void TTransfer::DPtoBuf(std::uint8_t block, std::int32_t offset, std::uint8_t piece) {
    if (offset < 0 || offset > kImageSize - kPieceSize)
        throw std::out_of_range("data packet offset " + std::to_string(offset) + " outside the image");
    Buf[0] = kSync;
    Buf[1] = piece == 0 ? 8 : piece;
    Buf[2] = block;
    std::copy_n(image_.begin() + offset, kPieceSize, Buf.begin() + 3);
    // The sum of bytes 1..34, by iterators: the fuzzer traces every integer
    // compare, and a counted loop here was a tenth of the reply-stream run.
    Buf[35] = static_cast<std::uint8_t>(std::accumulate(Buf.begin() + 1, Buf.begin() + kPacketSize - 1, 0u));
    WrBuf(kPacketSize);
}

void TTransfer::Start() {
    if (Running()) return;
    events_.Starting();
    state_ = TState::Start;
    SendToZELK();
}

void TTransfer::Stop() {
    if (!Running()) return;
    Finish(TOutcome::Stopped);
}

void TTransfer::Btn_z_zelkClick() {
    if (Running())
        Stop();
    else
        Start();
}

void TTransfer::OnRead(std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), kBufSize - 1);
    std::copy_n(bytes.begin(), n, Buf.begin() + 1);
    // A USB adapter or a busy host may hand over "06 05" in one chunk: each
    // byte is a reply of its own, and dropping the 05 would stall the upload.
    // A step may build a packet over Buf, so the reply goes into Buf[1] anew.
    for (const std::uint8_t reply : bytes) {
        if (!Running()) return;
        Buf[1] = reply;
        SendToZELK();
    }
}

void TTransfer::PortFailed() {
    if (Running()) Finish(TOutcome::Failed);
}

void TTransfer::Finish(TOutcome outcome) {
    state_ = TState::Idle;
    events_.Finished(outcome);
}

void TTransfer::CountMismatch() {
    ++errCount_;
    ++rejectedInARow_;
    events_.ChecksumMismatch(errCount_, rejectedInARow_);
}

void TTransfer::SendToZELK() {
    const std::uint8_t r = Buf[1];
    switch (state_) {
    case TState::Idle:
        return;

    case TState::Start:
        events_.Started(fileLen_);
        block_ = 0;
        offset_ = 0;
        errCount_ = 0;
        rejectedInARow_ = 0;
        SendStartBurst();
        state_ = TState::WaitHeaderReq;
        return;

    case TState::WaitHeaderReq:
        if (r != kRequest) return Finish(TOutcome::Failed);
        if (offset_ >= fileLen_) return;
        if (offset_ == 0) block_ = FirstPageNumber();
        SPtoBuf(offset_, block_);
        state_ = TState::WaitHeaderAck;
        return;

    case TState::WaitHeaderAck:
        if (r == kAccepted) {
            rejectedInARow_ = 0;
            piece_ = 0;
            state_ = TState::WaitDataReq;
        } else if (r == kChecksumMismatch) {
            CountMismatch();
            state_ = TState::WaitHeaderReq;
        } else {
            Finish(TOutcome::Failed);
        }
        return;

    case TState::WaitDataReq:
        if (r != kRequest) return Finish(TOutcome::Failed);
        DPtoBuf(block_, offset_, piece_);
        state_ = TState::WaitDataAck;
        return;

    case TState::WaitDataAck:
        if (r == kAccepted) {
            rejectedInARow_ = 0;
            ++piece_;
            offset_ += kPieceSize;
            events_.Progress(offset_);
            if (offset_ < fileLen_) {
                if (piece_ >= 8) {
                    --block_;
                    state_ = TState::WaitHeaderReq;
                } else {
                    state_ = TState::WaitDataReq;
                }
            } else {
                Finish(TOutcome::Done);
            }
        } else if (r == kChecksumMismatch) {
            CountMismatch();
            state_ = TState::WaitDataReq;
        } else {
            Finish(TOutcome::Failed);
        }
        return;
    }
}

}  // namespace zelk
