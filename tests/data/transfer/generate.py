#!/usr/bin/env python3
"""Writes the export files the transfer tests read. Run from this folder. Files too large to
keep here (over 256 MiB, 8 MiB entries, 100,001 entries) are made by the tests themselves."""
import json
import os

ID_A = "11111111-2222-4333-8444-555555555555"
ID_B = "66666666-7777-4888-8999-AAAAAAAAAAAA"
DIARY = "5A1D2E3F-4B5C-4D6E-8F70-8192A3B4C5D6"


def entry(id_, day, **changes):
    value = {"id": id_, "dayKey": day, "content": "Words / more words", "fontName": "Georgia",
             "bodyPointSize": 16, "status": "draft", "originTimeZone": "Europe/Paris",
             "createdAt": "2024-03-01T10:00:00Z", "updatedAt": "2024-03-01T11:00:00Z",
             "revision": 1}
    value.update(changes)
    return value


def document(entries=None, **changes):
    value = {"format": "velmora-export", "version": 3, "exportedAt": "2024-03-10T09:30:00Z",
             "diaryID": DIARY,
             "entries": [entry(ID_A, "2024-03-01"), entry(ID_B, "2024-03-02")]
             if entries is None else entries,
             "settings": {"userName": "Ana", "selectedFont": "Palatino", "defaultFontSize": 18,
                          "appAppearance": "dark"}}
    value.update(changes)
    return value


def write(name, value):
    with open(name, "wb") as f:
        f.write(value if isinstance(value, bytes) else
                json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode())


for old in [n for n in os.listdir(".") if n.endswith(".json")]:
    os.remove(old)

write("valid-v3.json", document())
write("version-3.0.json", json.dumps(document()).replace('"version": 3', '"version": 3.0').encode())
write("not-json.json", b"{this is not json")
write("scalar.json", b"42")
write("string-scalar.json", b'"velmora"')
write("array.json", [document()])
write("no-version.json", {k: v for k, v in document().items() if k != "version"})
write("numeric-1.json", document(version=1))
write("numeric-2.json", document(version=2))
write("string-3.json", document(version="3"))
write("version-4.json", document(version=4))
write("string-10.json", document(version="10"))
write("fractional-seconds.json",
      document(entries=[entry(ID_A, "2024-03-01", createdAt="2024-03-01T10:00:00.500Z")]))
write("fractional-export-date.json", document(exportedAt="2024-03-10T09:30:00.250Z"))
write("bad-format.json", document(format="another-export"))
write("missing-settings.json", {k: v for k, v in document().items() if k != "settings"})
write("duplicate-ids.json", document(entries=[entry(ID_A, "2024-03-01"), entry(ID_A, "2024-03-02")]))
write("duplicate-days.json", document(entries=[entry(ID_A, "2024-03-01"), entry(ID_B, "2024-03-01")]))
write("size-11.9.json", document(entries=[entry(ID_A, "2024-03-01"),
                                          entry(ID_B, "2024-03-02", bodyPointSize=11.9)]))
write("size-24.1.json", document(entries=[entry(ID_A, "2024-03-01"),
                                          entry(ID_B, "2024-03-02", bodyPointSize=24.1)]))
write("font-spaces.json", document(entries=[entry(ID_A, "2024-03-01"),
                                            entry(ID_B, "2024-03-02", fontName="  \n ")]))
write("updated-before-created.json",
      document(entries=[entry(ID_A, "2024-03-01"),
                        entry(ID_B, "2024-03-02", updatedAt="2024-03-01T09:59:59Z")]))
write("revision-0.json", document(entries=[entry(ID_A, "2024-03-01"),
                                           entry(ID_B, "2024-03-02", revision=0)]))
write("default-size.json", document(settings={"userName": "", "selectedFont": "Georgia",
                                              "defaultFontSize": 30, "appAppearance": "System"}))


def legacy(version, entries=None, **changes):
    value = {"version": version, "exportDate": "2024-01-05T08:00:00Z",
             "entries": [{"id": ID_A.lower(), "date": "2024-01-01T23:30:00-05:00",
                          "content": "Late night", "fontName": "Baskerville", "isLocked": False,
                          "createdAt": "2024-01-02T04:30:00Z"},
                         {"id": ID_B, "date": "2023-12-31T12:00:00Z", "content": "Sealed one",
                          "fontName": "Georgia", "isLocked": True,
                          "createdAt": "2023-12-31T13:00:00Z"}]
             if entries is None else entries}
    value.update(changes)
    return value


write("legacy-v1.json", legacy("1.0", settings={"userName": "Ignored", "defaultFontSize": 20}))
write("legacy-v2.json", legacy("2.7", settings={"userName": "Ana", "defaultFontSize": 18}))
write("legacy-v2-no-settings.json", legacy("2"))
write("legacy-bad-export-date.json", legacy("1", exportDate="2024-01-05T08:00:00.5Z"))
write("legacy-bad-entry-date.json",
      legacy("2", entries=[dict(legacy("2")["entries"][0], date="2024-01-01T23:30:00.120Z")]))
write("legacy-bad-id.json", legacy("2", entries=[legacy("2")["entries"][0],
                                                 dict(legacy("2")["entries"][1], id="nope")]))
write("legacy-bad-settings.json", legacy("1", settings={"defaultFontSize": "large"}))
write("legacy-missing-entries.json", {"version": "2", "exportDate": "2024-01-05T08:00:00Z"})
