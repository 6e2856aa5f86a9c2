// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

/* zelk-ch341-gadget: the device side of a CH340 USB serial adapter, in user
 * space, for the real-driver checks in the QEMU guest
 * (scripts/test-drivers.sh). Under a configfs gadget (VID 0x1a86, PID
 * 0x7523) with one FunctionFS function it offers the CH340's interface
 * (vendor class; bulk in, bulk out, interrupt in) to the host side of
 * dummy_hcd, where Linux's ch341 driver binds it as /dev/ttyUSB*.
 *
 *   zelk-ch341-gadget FFS_DIR
 *
 * It writes the descriptors to FFS_DIR/ep0, prints the path of a
 * pseudo-terminal once the function is ready to be bound to a device
 * controller, and then relays: what the host sends on the bulk out endpoint
 * goes to the pseudo-terminal, what is written to the pseudo-terminal goes
 * to the host on the bulk in endpoint. The device model (zelk-emu --device)
 * serves that pseudo-terminal.
 *
 * The vendor requests the ch341 driver makes are answered as a CH340 of
 * version 0x31 does: read version (0x5f), serial init (0xa1), write
 * register pairs (0x9a), read register pairs (0x95; 0x06/0x07 read as the
 * modem status, no line asserted), modem control (0xa4). Any other request
 * is stalled and reported on stderr, so a driver that asks for something
 * new shows here instead of passing by chance.
 */
#define _GNU_SOURCE
#include <endian.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum {
    kReqReadVersion = 0x5f,
    kReqWriteReg = 0x9a,
    kReqReadReg = 0x95,
    kReqSerialInit = 0xa1,
    kReqModemCtrl = 0xa4,
    kChipVersion = 0x31,
};

/* The descriptors are little-endian, as this program's only target is. */
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "zelk-ch341-gadget is built for a little-endian guest"
#endif
#define LE(x) (x)

static void die(const char* what, const char* arg) {
    fprintf(stderr, "zelk-ch341-gadget: %s %s: %s\n", what, arg ? arg : "", strerror(errno));
    exit(2);
}

struct endpoints {
    struct usb_interface_descriptor intf;
    struct usb_endpoint_descriptor_no_audio bulk_in, bulk_out, intr_in;
} __attribute__((packed));

#define ENDPOINT(addr, attr, size, interval)                                                                 \
    {                                                                                                        \
        .bLength = USB_DT_ENDPOINT_SIZE, .bDescriptorType = USB_DT_ENDPOINT, .bEndpointAddress = (addr),     \
        .bmAttributes = (attr), .wMaxPacketSize = LE(size), .bInterval = (interval)                      \
    }
#define INTERFACE                                                                                            \
    {                                                                                                        \
        .bLength = sizeof(struct usb_interface_descriptor), .bDescriptorType = USB_DT_INTERFACE,             \
        .bNumEndpoints = 3, .bInterfaceClass = USB_CLASS_VENDOR_SPEC, .bInterfaceSubClass = 1,               \
        .bInterfaceProtocol = 2, .iInterface = 1                                                             \
    }

static const struct {
    struct usb_functionfs_descs_head_v2 head;
    __le32 fs_count, hs_count;
    struct endpoints fs, hs;
} __attribute__((packed)) descriptors = {
    .head = {.magic = LE(FUNCTIONFS_DESCRIPTORS_MAGIC_V2),
             .length = LE(sizeof descriptors),
             .flags = LE(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP)},
    .fs_count = LE(4),
    .hs_count = LE(4),
    /* A CH340 is full speed with 32-byte endpoints; at high speed bulk
     * endpoints are 512 bytes. */
    .fs = {INTERFACE, ENDPOINT(2 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, 32, 0),
           ENDPOINT(2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, 32, 0),
           ENDPOINT(1 | USB_DIR_IN, USB_ENDPOINT_XFER_INT, 8, 1)},
    .hs = {INTERFACE, ENDPOINT(2 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, 512, 0),
           ENDPOINT(2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, 512, 0),
           ENDPOINT(1 | USB_DIR_IN, USB_ENDPOINT_XFER_INT, 8, 4)},
};

#define INTERFACE_NAME "USB2.0-Serial"
static const struct {
    struct usb_functionfs_strings_head head;
    __le16 code;
    char name[sizeof INTERFACE_NAME];
} __attribute__((packed)) strings = {
    .head = {.magic = LE(FUNCTIONFS_STRINGS_MAGIC),
             .length = LE(sizeof strings),
             .str_count = LE(1),
             .lang_count = LE(1)},
    .code = LE(0x0409),
    .name = INTERFACE_NAME,
};

static void write_all(int fd, const void* data, size_t size, const char* what) {
    if (write(fd, data, size) != (ssize_t)size) die("write", what);
}

/* One direction of the relay: read from one descriptor, write to the other.
 * An endpoint fails its transfers while the host is gone (ESHUTDOWN and the
 * like) and blocks once it is disabled, until it is enabled again. */
struct relay {
    int from, to;
    const char* name;
};

static void* relay_run(void* arg) {
    const struct relay* r = arg;
    char buf[4096];
    for (;;) {
        ssize_t n = read(r->from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == ESHUTDOWN || errno == ECONNRESET || errno == EL2HLT || errno == ENODEV)) continue;
        if (n <= 0) die("read", r->name);
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(r->to, buf + done, (size_t)(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && (errno == ESHUTDOWN || errno == ECONNRESET || errno == EL2HLT || errno == ENODEV))
                break; /* the host went away: what it did not take is lost, as on a real adapter */
            if (w <= 0) die("write", r->name);
            done += w;
        }
    }
    return NULL;
}

/* The CH340's registers as the driver reads and writes them in pairs. */
static uint8_t regs[256];

static void answer_setup(int ep0, const struct usb_ctrlrequest* c) {
    const uint16_t value = le16toh(c->wValue), index = le16toh(c->wIndex), length = le16toh(c->wLength);
    const int in = (c->bRequestType & USB_DIR_IN) != 0;
    uint8_t reply[2] = {0, 0};
    int ok = (c->bRequestType & USB_TYPE_MASK) == USB_TYPE_VENDOR;
    if (ok && in && c->bRequest == kReqReadVersion && length == 2) {
        reply[0] = kChipVersion;
    } else if (ok && in && c->bRequest == kReqReadReg && length == 2) {
        reply[0] = regs[value & 0xff];
        reply[1] = regs[value >> 8];
    } else if (ok && !in && c->bRequest == kReqWriteReg && length == 0) {
        regs[value & 0xff] = (uint8_t)(index & 0xff);
        regs[value >> 8] = (uint8_t)(index >> 8);
    } else if (ok && !in && (c->bRequest == kReqSerialInit || c->bRequest == kReqModemCtrl) && length == 0) {
        /* nothing to keep: the line is a pseudo-terminal */
    } else {
        ok = 0;
    }
    if (!ok) {
        fprintf(stderr, "zelk-ch341-gadget: stalled request type %02x request %02x value %04x index %04x length %u\n",
                c->bRequestType, c->bRequest, value, index, length);
        /* The wrong direction stalls ep0. */
        if (in) {
            if (read(ep0, reply, 0) >= 0 || errno != EL2HLT) fprintf(stderr, "zelk-ch341-gadget: stall failed\n");
        } else {
            if (write(ep0, reply, 0) >= 0 || errno != EL2HLT) fprintf(stderr, "zelk-ch341-gadget: stall failed\n");
        }
        return;
    }
    if (in) {
        if (write(ep0, reply, length) != length) fprintf(stderr, "zelk-ch341-gadget: reply: %s\n", strerror(errno));
    } else if (read(ep0, reply, 0) != 0) {
        fprintf(stderr, "zelk-ch341-gadget: status: %s\n", strerror(errno));
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: zelk-ch341-gadget FFS_DIR\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    regs[0x06] = 0xff; /* modem status, active low: no line asserted */
    regs[0x07] = 0xee;
    char path[512];
    snprintf(path, sizeof path, "%s/ep0", argv[1]);
    const int ep0 = open(path, O_RDWR | O_CLOEXEC);
    if (ep0 < 0) die("open", path);
    write_all(ep0, &descriptors, sizeof descriptors, "descriptors");
    write_all(ep0, &strings, sizeof strings, "strings");
    /* The endpoint files follow the order of the descriptors. */
    int ep[4];
    for (int i = 1; i <= 3; ++i) {
        snprintf(path, sizeof path, "%s/ep%d", argv[1], i);
        ep[i] = open(path, O_RDWR | O_CLOEXEC);
        if (ep[i] < 0) die("open", path);
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) die("posix_openpt", NULL);
    char* slave_path = ptsname(master);
    if (slave_path == NULL) die("ptsname", NULL);
    /* Held open, so the master never sees a hang-up while device models
     * come and go; raw, so no byte is changed on the way. */
    const int slave = open(slave_path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) die("open", slave_path);
    struct termios t;
    if (tcgetattr(slave, &t) != 0) die("tcgetattr", slave_path);
    cfmakeraw(&t);
    if (tcsetattr(slave, TCSANOW, &t) != 0) die("tcsetattr", slave_path);

    static struct relay out = {0, 0, "bulk out to the terminal"}, in = {0, 0, "terminal to bulk in"};
    out.from = ep[2];
    out.to = master;
    in.from = master;
    in.to = ep[1];
    pthread_t threads[2];
    if (pthread_create(&threads[0], NULL, relay_run, &out) != 0 ||
        pthread_create(&threads[1], NULL, relay_run, &in) != 0)
        die("pthread_create", NULL);
    printf("%s\n", slave_path);

    for (;;) {
        struct usb_functionfs_event events[4];
        ssize_t n = read(ep0, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("read", "ep0");
        for (size_t i = 0; i < (size_t)n / sizeof events[0]; ++i) {
            if (events[i].type == FUNCTIONFS_SETUP) answer_setup(ep0, &events[i].u.setup);
        }
    }
}
