#!/usr/bin/env python3
"""Writes the backup packages the backup tests read: one valid package and its damaged copies.

Run from this folder; it replaces every *.velmorabackup folder here. Symbolic links and the
oversized files are made by the tests themselves.
"""
import base64
import hashlib
import json
import os
import shutil

DIARY_ID = "5A1D2E3F-4B5C-4D6E-8F70-8192A3B4C5D6"
ENTRY_A = "11111111-2222-4333-8444-555555555555"
ENTRY_B = "66666666-7777-4888-8999-AAAAAAAAAAAA"
RECOVERY = "BBBBBBBB-CCCC-4DDD-8EEE-FFFFFFFFFFFF"
PAYLOAD = b'{"content":"kept"}'


def dumps(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


metadata = {"diaryID": DIARY_ID, "schemaVersion": 2, "migrationIdentifier": "fresh",
            "createdAt": 1704067200000, "snapshotSequence": 3}
entry_a = {"id": ENTRY_A, "dayKey": "2024-03-01", "content": "First page / with a slash\nand a line",
           "fontName": "Georgia", "bodyPointSize": 16, "status": "draft",
           "originTimeZone": "Europe/Paris", "createdAt": 1709290800000,
           "updatedAt": 1709294400123, "revision": 2}
entry_b = {"id": ENTRY_B, "dayKey": "2024-03-05", "content": "Café naïve", "fontName": "Baskerville",
           "bodyPointSize": 18.5, "status": "sealed", "originTimeZone": "UTC",
           "createdAt": 1709636400000, "updatedAt": 1709640000000, "sealedAt": 1709640000000,
           "revision": 4}
recovery = {"recoveryID": RECOVERY, "originalID": ENTRY_A, "proposedDayKey": "2024-03-01",
            "reason": "competingDraft", "sourceKind": "importRecord",
            "preservedPayload": base64.b64encode(PAYLOAD).decode(),
            "contentSHA256": hashlib.sha256(PAYLOAD).hexdigest(), "createdAt": 1709300000000}


def line(kind, payload):
    return dumps({"kind": kind, kind: payload}) + b"\n"


def records(entries=(entry_a, entry_b), recoveries=(recovery,), meta=metadata):
    return line("metadata", meta) + b"".join(line("entry", e) for e in entries) + \
        b"".join(line("recovery", r) for r in recoveries)


def manifest(data, **changes):
    value = {"createdAt": 1710063000000, "diaryID": DIARY_ID, "earliestDay": "2024-03-01",
             "entryCount": 2, "format": "velmora-backup", "formatVersion": 1,
             "latestDay": "2024-03-05", "recordsByteCount": len(data),
             "recordsSHA256": hashlib.sha256(data).hexdigest(), "recoveryCount": 1,
             "schemaVersion": 2}
    value.update(changes)
    for key in [k for k, v in changes.items() if v is Ellipsis]:
        del value[key]
    return dumps(value)


def package(name, data, manifest_bytes=None, extra=None):
    folder = name + ".velmorabackup"
    os.makedirs(folder)
    with open(os.path.join(folder, "records.ndjson"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "manifest.json"), "wb") as f:
        f.write(manifest(data) if manifest_bytes is None else manifest_bytes)
    for path, content in (extra or {}).items():
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as f:
            f.write(content)


for old in [n for n in os.listdir(".") if n.endswith(".velmorabackup")]:
    shutil.rmtree(old) if os.path.isdir(old) else os.remove(old)

good = records()
package("valid", good)
# Accepted variants.
package("blank-lines", b"\n" + good.replace(b"\n", b"\n\n"))
package("no-final-newline", good[:-1])
empty = records(entries=(), recoveries=())
package("empty-diary", empty, manifest(empty, entryCount=0, recoveryCount=0, earliestDay=None,
                                       latestDay=None))
package("days-left-out", empty, manifest(empty, entryCount=0, recoveryCount=0,
                                         earliestDay=..., latestDay=...))
# Damaged copies.
flipped = bytearray(good)
flipped[40] ^= 0x01
package("byte-flip", bytes(flipped), manifest(good))
package("truncated", good[:-10], manifest(good))
package("extra-byte", good + b" ", manifest(good))
package("extra-file", good, extra={"notes.txt": b"hello\n"})
package("hidden-file", good, extra={".thumbnails": b"\0"})
package("subfolder", good, extra={"attachments/photo.txt": b"x"})
package("duplicate-key", good,
        manifest(good).replace(b'"format":"velmora-backup"',
                               b'"format":"velmora-backup","format":"velmora-backup"'))
package("missing-digest", good, manifest(good, recordsSHA256=...))
package("uppercase-digest", good, manifest(good, recordsSHA256=hashlib.sha256(good).hexdigest().upper()))
package("version-2", good, manifest(good, formatVersion=2))
package("other-format", good, manifest(good, format="another-backup"))
package("not-json-manifest", good, b"{manifest")
bad_line = records().split(b"\n")
bad_line[2] = b"{not json"
package("bad-line-3", b"\n".join(bad_line))
package("bad-line-after-blanks", b"\n\n{oops\n" + good)
kind_mismatch = good.replace(b'{"entry":', b'{"metadata":' + dumps(metadata) + b',"entry":', 1)
package("second-payload", kind_mismatch)
# Words that are not text, or missing, are malformed even where only the keys are kept.
package("words-not-text", records(entries=(entry_a, dict(entry_b, content=5))))
package("words-missing", records(entries=(entry_a, {k: v for k, v in entry_b.items()
                                                    if k != "content"})))
package("count-mismatch", good, manifest(good, entryCount=3))
package("two-metadata", records() + line("metadata", metadata))
same_day = dict(entry_b, dayKey="2024-03-01")
dup_day = records(entries=(entry_a, same_day))
package("duplicate-day", dup_day, manifest(dup_day, latestDay="2024-03-01"))
dup_id = records(entries=(entry_a, dict(entry_b, id=ENTRY_A)))
package("duplicate-id", dup_id)
dup_recovery = records(recoveries=(recovery, recovery))
package("duplicate-recovery", dup_recovery, manifest(dup_recovery, recoveryCount=2))
package("day-range", good, manifest(good, latestDay="2024-03-04"))
package("day-range-empty", empty, manifest(empty, entryCount=0, recoveryCount=0,
                                           latestDay=None))
other_id = records(meta=dict(metadata, diaryID=ENTRY_B))
package("metadata-mismatch", other_id)
os.makedirs("missing-records.velmorabackup")
with open("missing-records.velmorabackup/manifest.json", "wb") as f:
    f.write(manifest(good))
with open("not-a-folder.velmorabackup", "wb") as f:
    f.write(manifest(good))
