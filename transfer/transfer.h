#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "file_image.h"
#include "port_link.h"
#include "window_ops.h"

namespace zelk {

enum class TState : std::uint8_t {
    Idle = 0,
    Start = 1,
    WaitHeaderReq = 2,
    WaitHeaderAck = 3,
    WaitDataReq = 4,
    WaitDataAck = 5,
};

inline constexpr std::uint8_t kRequest = 0x05;
inline constexpr std::uint8_t kAccepted = 0x06;
inline constexpr std::uint8_t kChecksumMismatch = 0xF4;
inline constexpr std::uint8_t kSync = 0xE6;
inline constexpr std::uint8_t kBurstByte = 0x55;
inline constexpr int kPacketSize = 36;
inline constexpr int kPieceSize = 32;
inline constexpr int kBufSize = 251;

// Value of one hexadecimal digit ('0'-'9', 'A'-'F', 'a'-'f'); 0 for anything else.
int ChToInt(char c);

// Start page S from the start address text: its first two characters (UTF-8
// characters, not bytes) as hex digits.
std::uint8_t StartPage(std::string_view startText);

// The address check: two upper-case hex digits followed by "00h", as in "0100h".
// It only informs; an upload reads StartPage from whatever text there is.
bool ValidStartText(std::string_view startText);

// The upload of one image to the ZELK controller. Every step runs on the
// caller's (main) thread; the object needs no locking.
class TTransfer {
public:
    TTransfer(TWindowOps& window, TPortLink& port);

    TImage Image{};
    std::int32_t FileLen = 0;
    std::array<std::uint8_t, kBufSize> Buf{};

    TState State = TState::Idle;
    std::int32_t Offset = 0;
    std::uint8_t Piece = 0;
    std::uint8_t Block = 0;
    std::int32_t ErrCount = 0;

    // The send button: starts a transfer, or stops the one that runs.
    void Btn_z_zelkClick();
    // A chunk received from the device; only its first byte counts.
    void OnRead(std::span<const std::uint8_t> bytes);
    // One step of the machine for the current State and reply byte Buf[1].
    void SendToZELK();

    std::uint8_t BlockCountByte() const;
    std::uint8_t FirstPageNumber() const;

    // Packet builders; each sends what it built through WrBuf.
    void SendStartBurst();
    void SPtoBuf(std::int32_t offset, std::uint8_t block);
    void DPtoBuf(std::uint8_t block, std::int32_t offset, std::uint8_t piece);
    void WrBuf(int n);

private:
    void Fail();
    void CountMismatch();

    TWindowOps& window_;
    TPortLink& port_;
};

}  // namespace zelk
