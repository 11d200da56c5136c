#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

An input is a header byte per receive event (bits 0..5 the count, bit 6 a timer tick after
the event, bit 7 a new request before it) followed by the event's bytes; see
fuzz/FuzzSupport.h. The first byte(s) pick the exchange or the window."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(*body):
    body = bytes(body)
    crc = crc16(body)
    return body + bytes([crc >> 8, crc & 0xFF])  # high byte first


def answer(function, data):
    return frame(10, function, len(data), *data)


def events(chunks, tick=False, new_request=False):
    """Chunks of one answer as receive events; the flags go on the first event."""
    out = b""
    for i, chunk in enumerate(chunks):
        assert len(chunk) <= 63
        header = len(chunk)
        if i == 0 and new_request:
            header |= 0x80
        if i == len(chunks) - 1 and tick:
            header |= 0x40
        out += bytes([header]) + chunk
    return out


def split(data, *sizes):
    out, pos = [], 0
    for s in sizes:
        out.append(data[pos:pos + s])
        pos += s
    if pos < len(data):
        out.append(data[pos:])
    return [c for c in out if c]


def pieces(data, size=63):
    return [data[i:i + size] for i in range(0, len(data), size)]


def write(target, name, content):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


def registers(count, base):
    out = []
    for i in range(count):
        out += [(base + i) >> 8 & 0xFF, (base + i) & 0xFF]
    return out


def main_receive():
    block1 = answer(3, registers(38, 0x0100))
    block2 = answer(3, registers(15, 0x0200))
    write("main_receive", "read-block1", bytes([0]) + events(pieces(block1)))
    write("main_receive", "read-both-split",
          bytes([0]) + events(split(block1, 1, 2, 40)) + events(split(block2, 3, 5)))
    write("main_receive", "read-block2", bytes([1]) + events([block2]))
    write("main_receive", "write-echo", bytes([2]) + events([frame(10, 16, 0, 0, 0, 53)]))
    write("main_receive", "exception", bytes([0]) + events([frame(10, 0x83, 2)]))
    bad = bytearray(block2)
    bad[-1] ^= 0xFF
    write("main_receive", "bad-crc-then-retry",
          bytes([1]) + events(pieces(bytes(bad))) + events([block2], new_request=True))
    write("main_receive", "flood", bytes([0]) + events(pieces(bytes([0xFF]) * 250)))


# Windows in the target's order: three with status requests only, then the measuring
# windows with the count of input registers their values answer carries.
STATUS_ONLY = ["generator-f", "generator-T", "generator-TC"]
MEASURING = [("tpr-tpu1", 40), ("tpr-tpu2", 40), ("tpr-tpr", 12), ("freq-counter", 8),
             ("pack-pulses", 4), ("tq", 6), ("imitation-tpu", 2)]


def mode_receive():
    status_on = answer(1, [0xFF])
    status_off = answer(1, [0x00])
    for index, name in enumerate(STATUS_ONLY):
        write("mode_receive", name + "-status",
              bytes([index, 0]) + events([status_on], tick=True)
              + events([status_off], tick=True, new_request=True))
        # A click queues a command; its echo comes back in two pieces.
        write("mode_receive", name + "-command",
              bytes([index, 1]) + events(split(frame(10, 5, 0, 7, 0xFF, 0), 3), tick=True))
    for offset, (name, count) in enumerate(MEASURING):
        index = len(STATUS_ONLY) + offset
        values = answer(4, [(i * 37 + 11) & 0xFF for i in range(2 * count)])
        write("mode_receive", name + "-status-values",
              bytes([index, 0]) + events([status_on], tick=True)
              + events(split(values, 7, 20), tick=True, new_request=True)
              + events([status_off], tick=True, new_request=True))
    write("mode_receive", "exception", bytes([3, 0]) + events([frame(10, 0x81, 1)], tick=True))
    write("mode_receive", "flood", bytes([5, 0]) + events(pieces(bytes([0x0A, 0x04, 0x50]) * 90), tick=True))
    write("mode_receive", "short-values", bytes([3, 4]) + events([status_on], tick=True)
          + events([answer(4, [1, 2, 3, 4])], tick=True, new_request=True))


def transaction_answer():
    # Requests in the target's order: 0 block 1, 1 block 2, 2 status, 3 values, 4 command,
    # 5 configuration write; bit 3 asks slave 11.
    block1 = answer(3, registers(38, 0x0100))
    write("transaction_answer", "block1-split", bytes([0]) + events(split(block1, 1, 2, 40)))
    write("transaction_answer", "block2-noise-after", bytes([1]) + events([answer(3, registers(15, 0x0200)) + b"\x00\xff"]))
    write("transaction_answer", "status", bytes([2]) + events([answer(1, [0x10, 0x00])]))
    write("transaction_answer", "values", bytes([3]) + events(pieces(answer(4, registers(40, 0x0300)))))
    write("transaction_answer", "command-echo", bytes([4]) + events(split(frame(10, 5, 0, 4, 0xFF, 0), 3)))
    write("transaction_answer", "write-echo", bytes([5]) + events([frame(10, 16, 0, 0, 0, 53)]))
    write("transaction_answer", "exception-noise", bytes([0]) + events([frame(10, 0x83, 2) + b"\x55"]))
    write("transaction_answer", "other-slave", bytes([8 | 2]) + events([answer(1, [0x01, 0x00])]))
    bad = bytearray(block1)
    bad[10] ^= 0x01
    write("transaction_answer", "bad-crc-then-again",
          bytes([0]) + events(pieces(bytes(bad))) + events(pieces(block1), new_request=True))


# The configuration's fields in register order, with their kinds (code, u16, u32, real).
FIELDS = [
    ("Tpu1DetectorCount", "code"), ("Tpu1DetectorType", "code"), ("Tpu1DetectorScheme", "code"),
    ("Tpu1TpuType", "code"), ("Tpu1SumMethod", "code"), ("Tpu1KFactor2", "real"),
    ("Tpu2DetectorCount", "code"), ("Tpu2DetectorType", "code"), ("Tpu2DetectorScheme", "code"),
    ("Tpu2TpuType", "code"), ("Tpu2SumMethod", "code"), ("Tpu2KFactor2", "real"),
    ("TprN1Min", "u32"), ("TprN1Max", "u32"), ("TprKFactor1", "real"), ("TprKFactor2", "real"),
    ("PackCount", "u32"), ("PackFrequency", "real"), ("PackVoltage", "code"), ("PackDelay", "code"),
    ("TqN1Min", "u32"), ("TqN1Max", "u32"), ("TqFrequency", "real"), ("TqVoltage", "code"),
    ("ImitTpuDuration", "code"), ("ImitTpuCount", "u32"), ("GenFFrequency", "real"), ("GenFVoltage", "code"),
    ("GenTPeriod", "u32"), ("GenTVoltage", "code"), ("GenICurrent1", "u16"), ("GenICurrent2", "u16"),
    ("GenIRange1", "code"), ("GenIStep1", "code"), ("GenIScale1", "code"), ("GenIRange2", "code"),
    ("GenIStep2", "code"), ("GenIScale2", "code"), ("ImitTcResistance", "code"),
]
# A value each editing dialog takes.
GOOD = {"code": "1", "u16": "24000", "u32": "1000", "real": "100.5"}


def config_text(values=None, extra="", registers=True):
    values = values or {}
    params = ",\n".join('    {"field": "%s", "value": %s}' % (name, values.get(name, GOOD[kind]))
                        for name, kind in FIELDS)
    words = ', "registers": [%s]' % ", ".join(str(0x7FC0 if r == 19 else r) for r in range(53)) if registers else ""
    return '{"format": 1, "device": "\u041a"%s, "parameters": [\n%s\n]%s}\n' % (extra, params, words)


def config_file():
    target = "config_file"
    write(target, "valid-write", b"\x00" + config_text().encode())
    write(target, "valid-compare", b"\x01" + config_text().encode())
    write(target, "origin-edited", b"\x00" + config_text(extra=', "read_at": "2026-12-09T00:11:07Z", "port": "COM3", '
                                                             '"opened_from": "b.json", "changed_by_hand": true').encode())
    write(target, "null-with-words", b"\x02" + config_text({"TprKFactor1": "null"}).encode())
    write(target, "out-of-range", b"\x00" + config_text({"GenTPeriod": "50", "PackVoltage": "12", "TqFrequency": "500.25"}).encode())
    write(target, "numbers-as-written", b"\x00" + config_text({"ImitTpuCount": "9007199254740993", "TprKFactor2": "1e-400",
                                                                "Tpu1KFactor2": "-0.0", "PackCount": "999999.00000000001",
                                                                "TqN1Min": "1000.0", "TqN1Max": "1e3"}).encode())
    write(target, "key-twice", b"\x00" + config_text().replace('"value": 1}', '"value": 1, "value": 0}', 1).encode())
    write(target, "nul", b"\x00" + config_text().encode() + b"\x00garbage}}}")
    write(target, "utf16", b"\x00" + config_text().encode("utf-16"))
    write(target, "deep", b"\x00" + b'{"format": 1, "x": ' + b"[" * 70 + b"]" * 70 + b"}")


# The TPR-by-TPU record's captions, as config/ModeMap.cpp gives them.
TPR_TPU_CAPTIONS = [
    "Частота, Гц", "Расход", "Количество импульсов с долями, N1-2др", "Суммарное количество импульсов с долями, S1",
    "Целое количество импульсов, N1-2цел", "Суммарное целое количество ипульсов S2",
    "Время между срабатываниями детекторов Т1-2,мкС", "Суммарное время S3, мкС", "Количество импульсов с долями, N2-1др",
    "Целое количество импульсов, N2-1цел", "Время между срабатываниями детекторов Т2-1,мкС",
    "Количество импульсов с долями, N3-4др", "Целое количество импульсов, N3-4цел",
    "Время между срабатываниями детекторов Т3-4,мкС", "Количество импульсов с долями, N4-3др",
    "Целое количество импульсов, N4-3цел", "Время между срабатываниями детекторов Т4-3,мкС",
    "Суммарное количество импульсов с долями, S4", "Суммарное целое количество ипульсов S5", "Суммарное время S6, мкС",
]


def prover_record_text(rows, interval, travelling):
    """A run of 1-2 passes of 10 s with 4 s between them, one row every `interval` seconds."""
    header = ",".join('"%s"' % c if "," in c else c for c in TPR_TPU_CAPTIONS)
    lines = ["time,mode," + header]
    n = s1 = 0.0
    t = s3 = done = 0
    for i in range(rows):
        sec = i * interval
        while sec >= (done + 1) * 14:
            done += 1
            n = round(12340 * (1 + 1e-4 * ((done * 7) % 5 - 2)), 2)
            t = int(10e6 * (1 + 1e-4 * ((done * 3) % 5 - 2)))
            s1 += n
            s3 = (s3 + t) % 2**32
        shown_n, shown_t = n, t
        moving = sec - done * 14 - 4
        if travelling and moving >= 0:
            shown_t = int(moving * 1e6)
            shown_n = round(1234 * moving, 2)
        ms = int(round(sec * 1000))
        time = "2026-12-09T00:%02d:%02d.%03dZ" % (ms // 60000, ms // 1000 % 60, ms % 1000)
        values = ["%.2f" % 1234.0, "%.2f" % 12.0, "%.2f" % shown_n, "%.2f" % s1, str(int(shown_n)), str(int(s1)),
                  str(shown_t), str(s3)] + ["0.00", "0", "0", "0.00", "0", "0", "0.00", "0", "0", "0.00", "0", "0"]
        lines.append(time + "," + ("on" if i < rows - 3 else "off") + "," + ",".join(values))
    return ("\n".join(lines) + "\n").encode()


def prover_record():
    target = "prover_record"
    write(target, "detector", b"\x00" + prover_record_text(60, 1, False))
    write(target, "travel-companion-pace", b"\x00" + prover_record_text(200, 0.15, True))
    write(target, "4det-2passes-travel-forced", b"\x15" + prover_record_text(60, 1, True))
    write(target, "last-row-cut", b"\x02" + prover_record_text(20, 1, False)[:-40])


if __name__ == "__main__":
    main_receive()
    mode_receive()
    transaction_answer()
    config_file()
    prover_record()
