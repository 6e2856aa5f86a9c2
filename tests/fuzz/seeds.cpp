// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Writes every fuzz target's seed corpus: fuzz_seeds DIR makes DIR/<target>/
// with a few dozen inputs in the target's format (see each target's header).
// scripts/fuzz.sh --seeds runs it into tests/fuzz/corpus; the campaign's
// merges add to what it wrote.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/packets.h"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

class TWriter {
public:
    TWriter(const fs::path& root, const std::string& target) : dir_(root / target) { fs::create_directories(dir_); }
    void Add(const std::string& name, const TBytes& bytes) {
        std::ofstream out(dir_ / ("seed-" + name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + (dir_ / name).string());
    }
    void Add(const std::string& name, const std::string& text) { Add(name, TBytes(text.begin(), text.end())); }

private:
    fs::path dir_;
};

void Append(TBytes& to, const TBytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// A length byte and the chunk.
void Chunk(TBytes& to, const TBytes& chunk) {
    to.push_back(static_cast<std::uint8_t>(chunk.size()));
    Append(to, chunk);
}

// --- reply stream: flags, size, seed, stale, K, start text, then the stream.
TBytes ReplyHeader(std::uint8_t flags, std::uint16_t size, std::uint8_t k, const std::string& start) {
    TBytes b{flags, static_cast<std::uint8_t>(size & 0xFF), static_cast<std::uint8_t>(size >> 8), 0x5A, 0xA5, k,
             static_cast<std::uint8_t>(start.size())};
    b.insert(b.end(), start.begin(), start.end());
    return b;
}

void ReplyStreamSeeds(const fs::path& root) {
    TWriter w(root, "reply_stream");
    // Clean devices: sizes around page and piece edges, some rejections and cuts.
    const std::initializer_list<std::uint16_t> sizes = {0, 1, 31, 32, 33, 255, 256, 257, 700, 2048, 65535};
    int n = 0;
    for (const std::uint16_t size : sizes) {
        for (const std::uint8_t shape : {0x00, 0x20, 0x60, 0xA0}) {
            if ((size > 2048) && shape != 0x00) continue;
            TBytes b = ReplyHeader(size > 4096 ? 0x24 : 0x04, size, 0, n % 3 == 0 ? "0100h" : n % 3 == 1 ? "ab00h" : "\xD1\x8F" "1");
            const std::size_t packets = (size + 255) / 256 * 9;
            for (std::size_t i = 0; i < packets; ++i) b.push_back(i % 5 == 2 ? shape : static_cast<std::uint8_t>(shape & 0x60));
            w.Add("clean-" + std::to_string(size) + "-" + std::to_string(shape), b);
            ++n;
        }
    }
    // Raw streams of one page: the right replies one by one, then variations.
    const auto onePage = [](std::uint8_t flags, std::uint8_t k, const std::vector<TBytes>& chunks) {
        TBytes b = ReplyHeader(flags, 100, k, "0100h");
        for (const TBytes& c : chunks) Chunk(b, c);
        return b;
    };
    std::vector<TBytes> byOne;
    for (int i = 0; i < 9; ++i) {
        byOne.push_back({0x05});
        byOne.push_back({0x06});
    }
    w.Add("raw-one-by-one", onePage(0x00, 0, byOne));
    std::vector<TBytes> together{{0x05}};
    for (int i = 0; i < 8; ++i) together.push_back({0x06, 0x05});
    together.push_back({0x06, 0x05, 0x06, 0x05});  // replies after the end
    w.Add("raw-06-05-together", onePage(0x10, 0, together));
    w.Add("raw-rejections", onePage(0x00, 0, {{0x05}, {0xF4}, {0x05, 0xF4, 0x05}, {0x06, 0x05, 0xF4}, {0x05, 0x06}}));
    w.Add("raw-unexpected-byte", onePage(0x00, 0, {{0x05}, {0x06}, {0x05}, {0x15}}));
    w.Add("raw-request-twice", onePage(0x00, 0, {{0x05, 0x05}}));
    w.Add("raw-port-closed", onePage(0x01, 2, byOne));
    w.Add("raw-port-fails", onePage(0x02, 3, byOne));
    w.Add("raw-port-fails-at-burst", onePage(0x0A, 0, byOne));
    w.Add("raw-ends-by-port-failure", onePage(0x08, 0, {{0x05}, {0x06}}));
    w.Add("raw-empty-file", ReplyHeader(0x00, 0, 0, "0100h"));
    TBytes noise = ReplyHeader(0x00, 513, 0, "F");
    for (int i = 0; i < 40; ++i) Chunk(noise, {0x05, 0x06, 0x05, static_cast<std::uint8_t>(i == 20 ? 0xF4 : 0x06)});
    w.Add("raw-three-pages", noise);
}

// --- host stream: faults, R, U, A, X, then chunks.
void HostStreamSeeds(const fs::path& root) {
    TWriter w(root, "host_stream");
    const auto image = [](std::size_t pages) {
        TBytes b(pages * 256);
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 7);
        return b;
    };
    const auto upload = [&](std::uint8_t faults, std::initializer_list<std::uint8_t> rua, std::size_t pages,
                            std::uint8_t s, auto&& edit) {
        TBytes b{faults};
        b.insert(b.end(), rua.begin(), rua.end());
        Chunk(b, {0x55, 0x55, 0x55});
        std::vector<zelk::test::TBytes> packets = zelk::test::PacketsFor(image(pages), s);
        edit(packets);
        for (const auto& p : packets) Chunk(b, p);
        return b;
    };
    const auto same = [](auto&) {};
    w.Add("one-page", upload(0, {0, 0, 0, 0}, 1, 0x01, same));
    w.Add("three-pages", upload(0, {0, 0, 0, 0}, 3, 0xF0, same));
    w.Add("page-number-wraps", upload(0, {0, 0, 0, 0}, 2, 0xFE, same));
    w.Add("reject-injected", upload(1, {3, 0, 0, 0}, 1, 0x01, [](auto& p) { p.insert(p.begin() + 3, p[2]); }));
    w.Add("unexpected-reply", upload(2, {0, 4, 0, 0x42}, 1, 0x01, same));
    w.Add("ack-with-request", upload(4, {0, 0, 2, 0}, 1, 0x01, same));
    w.Add("bad-checksum", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) {
              auto bad = p[1];
              bad[35] ^= 1;
              p.insert(p.begin() + 1, bad);
          }));
    w.Add("bad-sync", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) { p[2][0] = 0x00; }));
    w.Add("short-packet", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) { p[3].resize(20); }));
    w.Add("unasked-bytes", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) { p[4].push_back(0x00); }));
    w.Add("wrong-piece", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) { std::swap(p[2], p[3]); }));
    w.Add("wrong-header", upload(0, {0, 0, 0, 0}, 2, 0x01, [](auto& p) { p[9] = zelk::test::Packet(0, 0x42); }));
    w.Add("restart-burst", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) {
              p.insert(p.begin() + 4, zelk::test::TBytes{0x55, 0x55, 0x55});
          }));
    w.Add("silent-request", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) { p.insert(p.begin() + 2, zelk::test::TBytes{}); }));
    TBytes before{0, 0, 0, 0, 0};
    Chunk(before, {0x00, 0x55, 0x55, 0x12, 0x55, 0x55, 0x55});
    w.Add("noise-before-burst", before);
    w.Add("block-count-0", upload(0, {0, 0, 0, 0}, 1, 0x01, [](auto& p) {
              std::uint8_t body[32]{};
              body[29] = 0x01;
              p[0] = zelk::test::Packet(0, 0, body);
          }));
}

std::string Args(std::initializer_list<std::string> args) {
    std::string s;
    for (const std::string& a : args) {
        if (!s.empty() || &a != args.begin()) s += '\0';
        s += a;
    }
    return s;
}

void UploadArgsSeeds(const fs::path& root) {
    TWriter w(root, "upload_args");
    w.Add("file", Args({"prog.rom"}));
    w.Add("port-baud-start", Args({"-p", "5", "-b", "57600", "-s", "0x0200", "prog.rom"}));
    w.Add("long-equals", Args({"--port=20", "--baud=1200", "--start=ab00h", "--retries=0", "--timeout=0.5", "f"}));
    w.Add("device", Args({"--device", "/dev/ttyUSB0", "--quiet", "--", "-file"}));
    w.Add("verbose-log", Args({"-v", "--log", "trace.txt", "-r", "3", "-t", "30", "x.bin"}));
    w.Add("list-ports", Args({"--list-ports"}));
    w.Add("help", Args({"-h"}));
    w.Add("version", Args({"--version"}));
    w.Add("bundled-short", Args({"-qvp3", "f"}));
    w.Add("port-out-of-range", Args({"-p", "21", "f"}));
    w.Add("port-and-device", Args({"-p", "1", "-d", "/dev/ttyS0", "f"}));
    w.Add("bad-baud", Args({"-b", "115201", "f"}));
    w.Add("bad-start", Args({"-s", "01\xD1\x8Fh", "f"}));
    w.Add("bad-timeout", Args({"-t", "nan", "f"}));
    w.Add("missing-value", Args({"f", "--port"}));
    w.Add("unknown-long", Args({"--colour=red", "f"}));
    w.Add("value-to-flag", Args({"--quiet=yes", "f"}));
    w.Add("two-files", Args({"a", "b"}));
    w.Add("no-file", Args({"-q"}));
    w.Add("invalid-utf8-file", Args({"\xFF\xFE\xC0\x80.rom"}));
    w.Add("empty-argument", Args({""}));
    w.Add("abbreviated", Args({"--ba", "9600", "--st", "0100H", "f"}));
}

void WindowArgsSeeds(const fs::path& root) {
    TWriter w(root, "window_args");
    w.Add("file", Args({"prog.rom"}));
    w.Add("nothing", "");
    w.Add("port-baud-start", Args({"-p", "5", "-b", "57600", "-s", "0200h", "prog.rom"}));
    w.Add("joined", Args({"-p5", "-b9600", "-s0100h"}));
    w.Add("long-equals", Args({"--port=20", "--baud=1200", "--start=ab00h", "f"}));
    w.Add("long-apart", Args({"--port", "1", "--baud", "115200", "--start", "0000h"}));
    w.Add("end-of-options", Args({"--", "-p"}));
    w.Add("help-wins", Args({"-p", "99", "--help"}));
    w.Add("version", Args({"--version"}));
    w.Add("grouped", Args({"-hp", "3"}));
    w.Add("port-out-of-range", Args({"-p", "0"}));
    w.Add("bad-baud", Args({"--baud=300"}));
    w.Add("start-too-long", Args({"-s", "01000h"}));
    w.Add("start-cyrillic", Args({"-s", "\xD1\x8F" "100h"}));
    w.Add("start-invalid-utf8", Args({"-s", "\xFF\xFE"}));
    w.Add("missing-value", Args({"f", "--port"}));
    w.Add("unknown", Args({"-x\xD1\x8F", "--colour"}));
    w.Add("value-to-flag", Args({"--help=yes"}));
    w.Add("two-files", Args({"a", "b"}));
    w.Add("dash-alone", Args({"-"}));
}

void PortRecordSeeds(const fs::path& root) {
    TWriter w(root, "port_record");
    w.Add("ftdi",
          "@sys=ttyUSB0\n@node=/dev/ttyUSB0\n@real=/dev/ttyUSB0\n@parent\n@driver=ftdi_sio\n@access\n"
          "DEVLINKS=/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 "
          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
          "ID_VENDOR_ID=0403\nID_MODEL_ID=6001\nID_MODEL=FT232R_USB_UART\nID_MODEL_ENC=FT232R\\x20USB\\x20UART\n"
          "ID_SERIAL_SHORT=A50285BI\nID_BUS=usb\ncom:5=/dev/ttyUSB0\ncom:1=/dev/ttyS0\n");
    w.Add("ch340-attributes",
          "@sys=ttyUSB1\n@node=/dev/ttyUSB1\n@parent\n@driver=ch341-uart\n"
          "usb:idVendor=1a86\nusb:idProduct=7523\nusb:product=USB Serial\nusb:serial=X1 \ncom:6=/dev/ttyUSB1\n");
    w.Add("model-is-hex-id",
          "@sys=ttyACM0\n@node=/dev/ttyACM0\n@parent\n@driver=cdc_acm\nID_MODEL=2303\nID_MODEL_ID=2303\n"
          "ID_MODEL_FROM_DATABASE=PL2303 Serial Port\nID_VENDOR_ID=067b\n");
    w.Add("uart-16550a", "@sys=ttyS0\n@node=/dev/ttyS0\n@parent\n@driver=serial8250\n@type=4\ncom:1=/dev/ttyS0\n");
    w.Add("placeholder", "@sys=ttyS3\n@node=/dev/ttyS3\n@parent\n@driver=serial8250\n@type=0\n");
    w.Add("type-garbage", "@sys=ttyS1\n@node=/dev/ttyS1\n@parent\n@driver=serial8250\n@type= +17\n");
    w.Add("type-huge", "@sys=ttyS2\n@node=/dev/ttyS2\n@parent\n@driver=serial8250\n@type=4294967296\n");
    w.Add("virtual-console", "@sys=tty1\n@node=/dev/tty1\n");
    w.Add("no-driver", "@sys=ttyS4\n@node=/dev/ttyS4\n@parent\n");
    w.Add("link-resolved",
          "@sys=ttyUSB0\n@node=/dev/ttyUSB0\n@real=/dev/ttyUSB0\n@parent\n@driver=pl2303\n"
          "com:2=/dev/ttyUSB0\ncom:5=/dev/ttyUSB0\n");
    w.Add("escapes", "@sys=ttyUSB0\n@node=/dev/ttyUSB0\n@parent\n@driver=x\nID_MODEL_ENC=\\x41\\x4g\\x\\x00\\xff  \n");
    w.Add("win-ftdi",
          "@win\n@id=FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000\n@hw=FTDIBUS\\COMPORT&VID_0403&PID_6001\n"
          "@parent-id=USB\\VID_0403&PID_6001\\A50285BI\n@port=COM5\n@friendly=USB Serial Port (COM5)\n"
          "@service=FTDISER\n@version=2.12.36.4\n@parent-loc=Port_#0002.Hub_#0001\n@latency=16\n");
    w.Add("win-composite",
          "@win\n@id=USB\\VID_2E8A&PID_000A&MI_00\\7&1E5D9C2F&0&0000\n@hw=USB\\VID_2E8A&PID_000A&MI_00\n"
          "@compat=USB\\Class_02&SubClass_02\n@parent-id=USB\\VID_2E8A&PID_000A\\E660583883724A2F\n@port=com23\n");
    w.Add("win-16550", "@win\n@id=ACPI\\PNP0501\\0\n@hw=*PNP0501\n@port=COM1\n@service=Serial\n");
    w.Add("win-printer", "@win\n@id=ACPI\\PNP0401\\0\n@port=LPT1\n");
    w.Add("cyrillic-product", "@sys=ttyUSB0\n@node=/dev/ttyUSB0\n@parent\n@driver=x\nusb:product=\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    ReplyStreamSeeds(root);
    HostStreamSeeds(root);
    UploadArgsSeeds(root);
    PortRecordSeeds(root);
    WindowArgsSeeds(root);
    return 0;
}
