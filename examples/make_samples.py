#!/usr/bin/env python3
"""Writes the sample drives in examples/: one made-up 10-minute drive, one reading every 5 s,
in each device format dosemap reads, with a few of the faults real logs have."""
import json
import math
import os
from datetime import datetime, timedelta, timezone

HERE = os.path.dirname(os.path.abspath(__file__))
START = datetime(2026, 11, 21, 1, 30, 0, tzinfo=timezone.utc)
POINTS = 120


def drive():
    """(time, lat, lon, alt, cpm) along a winding road, with a hot spot in the middle."""
    for i in range(POINTS):
        t = START + timedelta(seconds=5 * i)
        lat = 37.4210 + 0.00042 * i + 0.0006 * math.sin(i / 9)
        lon = 140.4710 + 0.00055 * i
        alt = 210 + 8 * math.sin(i / 15)
        cpm = 28 + int(14 * math.sin(i / 5) ** 2) + (180 if 58 <= i <= 62 else 0) + (i % 7)
        yield t, lat, lon, alt, cpm


def nmea(value, positive, negative, width):
    hemisphere = positive if value >= 0 else negative
    value = abs(value)
    degrees = int(value)
    minutes = (value - degrees) * 60
    return f"{degrees:0{width}d}{minutes:07.4f}", hemisphere


def sentence(body):
    checksum = 0
    for c in body.encode():
        checksum ^= c
    return f"${body}*{checksum:02X}"


def bgeigie():
    lines = ["# NEW LOG", "# format=1.3.6nano", "# deadtime=on"]
    total = 0
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        total += cpm // 12
        la, ns = nmea(lat, "N", "S", 2)
        lo, ew = nmea(lon, "E", "W", 3)
        gps = "V" if i in (3, 4) else "A"
        body = f"BNRDD,2601,{t:%Y-%m-%dT%H:%M:%SZ},{cpm},{cpm // 12},{total},A,{la},{ns},{lo},{ew},{alt:.2f},{gps},9,112"
        line = sentence(body)
        if i == 20:
            line = line[:-2] + "00"  # a corrupted sentence
        if i == 40:
            lines[-1] += line  # a lost line end: two sentences on one line
            continue
        lines.append(line)
    lines.append("$BNRDD,2601,2026-11-21T01:40:00Z,31,2,9")  # cut off when the power went
    return "\r\n".join(lines) + "\r\n"


def radiacode():
    lines = ["Track: Drive 2026-11-21\t1234567890\tsample\tEC", "Timestamp\tTime\tLatitude\tLongitude\tAccuracy\tDoseRate\tCountRate\tComment"]
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        ticks = int((t - datetime(1, 1, 1, tzinfo=timezone.utc)).total_seconds() * 10**7)
        dose_ur = cpm / 334 * 100
        lines.append(f"{ticks}\t{t:%Y-%m-%d %H:%M:%S}\t{lat:.7f}\t{lon:.7f}\t{2.5 + i % 3:.2f}\t{dose_ur:.2f}\t{cpm / 60:.2f}\t")
    lines[10] = lines[10].replace("\t2026-", "\t2026/13/")  # a damaged time
    return "\n".join(lines) + "\n"


def radiacode_json():
    markers = []
    for t, lat, lon, alt, cpm in drive():
        markers.append({"date": t.timestamp(), "lat": round(lat, 7), "lon": round(lon, 7), "acc": 3.1,
                        "doseRate": round(cpm / 334, 4), "countRate": round(cpm / 60, 2)})  # µSv/h, cps
    markers = markers[1::2] + markers[0::2]  # the app writes them out of order
    return json.dumps({"id": "sample", "name": "Drive 2026-11-21", "markers": markers}, indent=1) + "\n"


def database_csv():
    lines = ["Captured Time,Latitude,Longitude,Value,Unit,Location Name,Device ID,MD5Sum,Height,Surface,Radiation,Uploaded Time,Loader ID"]
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        lines.append(f"{t:%Y-%m-%d %H:%M:%S} UTC,{lat:.6f},{lon:.6f},{cpm},cpm,\"Route 4, north\",2601,,{alt:.0f},,,{t:%Y-%m-%d} 09:00:00 UTC,")
    lines[5] = lines[5].replace(",37.", ",0.0000000,").split(",0.0000000,")[0] + ",0,0,30,cpm,,2601,,,,,,"  # a 0,0 fix
    return "\n".join(lines) + "\n"


def ers():
    lines = ["IPC WGS84", "ISC 1024", "SIP sample drive"]
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        dose = f"{cpm / 334:.4f}"
        if i % 2:
            dose = dose.replace(".", ",")  # some files write decimal commas
        lines.append(f"PA {i + 1};CD {t:%Y-%m-%d};CT {t:%H:%M:%S};PN {lat:.6f};PE {lon:.6f};PH 1;PZ {alt:.1f};DHSR {dose}")
    return "\r\n".join(lines) + "\r\n"


def czech():
    lines = ["", "# NEW LOG", "# format=2.0.0CzechRad", "# deadtime=on"]  # a blank line first, as the logger writes
    total = 0
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        total += cpm // 12
        la, ns = nmea(lat, "N", "S", 2)
        lo, ew = nmea(lon, "E", "W", 3)
        lines.append(sentence(f"CZRA1,0159,{t:%Y-%m-%dT%H:%M:%SZ},{cpm},{cpm // 12},{total},A,{la},{ns},{lo},{ew},{alt:.2f},A,7,107"))
    lines.insert(30, lines[29])  # a sentence written twice, as when a log is appended to
    return "\n".join(lines) + "\n"


def atomfast_csv():
    lines = ["unix timestamp;doserate (uSv/h);lat;lng;wgs84_alt (m.);speed (m/s);cps;cp_2s;"
             "horizontal accuracy (radius of 68% confidence [m]);marker type (2-circle, 1-marker);SE (1 \u03c3)[%]"]
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        if i == 70:
            lat += 0.02  # the receiver threw this fix 2 km off, and back
        accuracy = 350.0 if i == 90 else 2.0 + i % 3 / 10  # and here it had lost the sky
        lines.append(f"{int(t.timestamp())};{cpm / 334:.5f};{lat:.9f};{lon:.9f};{alt:.9f};9.5;{cpm / 60:.5f};"
                     f"{cpm / 30:.5f};{accuracy:.4f};2;11.5")
    return "\n".join(lines) + "\n"


def atomfast_json():
    elements = [{"dv": 3, "d": round(cpm / 334, 4), "r": 4, "lat": round(lat, 6), "lng": round(lon, 6), "sm": 0,
                 "s": 1700, "t": int(t.timestamp() * 1000) + 276} for t, lat, lon, alt, cpm in drive()]
    return json.dumps(elements, separators=(",", ":"))


RUSSIAN_MONTHS = ["янв", "фев", "мар", "апр", "мая", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"]


def radiacode_kml():
    parts = ['<?xml version="1.0" encoding="UTF-8"?>', '<kml xmlns:gx="http://www.google.com/kml/ext/2.2">', "<Document>",
             "<name>Drive 2026-11-21</name>",
             "<description>21 ноя 2026 10:30, 00:10:00, Точек: 120/120, 4.03 км</description>",
             '<Style id="FF006800">', "<IconStyle>", "<scale>0.75</scale><Icon>", "<href>FF006800.png</href>", "</Icon>",
             "</IconStyle>", "</Style>"]
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        local = t + timedelta(hours=9)  # the phone writes its local time, without a zone
        when = f"{local.day} {RUSSIAN_MONTHS[local.month - 1]} {local.year} {local:%H:%M:%S}"
        accuracy = 2200 if i == 0 else 4 + i % 5  # the first fix is still rough
        parts += [f'<Placemark id="{i}">', "<styleUrl>#FF006800</styleUrl>", "<Point>",
                  f"<coordinates>{lon:.7f},{lat:.7f},0</coordinates>", "</Point>",
                  f"<description><![CDATA[<b>{when}</b></br>{cpm / 334:.2f} мкЗв/ч</br>{cpm / 60:.1f} имп/c</br>"
                  f"Точность: ±{accuracy} м</br>]]></description>", "</Placemark>"]
    parts += ["</Document>", "</kml>"]
    return "\n".join(parts) + "\n"


def bgeigie_year_before():
    """The same road a year before, clean: the first third read three times today's counts (it was
    cleaned since), the middle the same, the last third half (it rose since)."""
    lines = ["# NEW LOG", "# format=1.3.6nano", "# deadtime=on"]
    total = 0
    for i, (t, lat, lon, alt, cpm) in enumerate(drive()):
        t -= timedelta(days=365)
        cpm = cpm * 3 if i < 40 else cpm if i < 80 else cpm // 2
        total += cpm // 12
        la, ns = nmea(lat, "N", "S", 2)
        lo, ew = nmea(lon, "E", "W", 3)
        body = f"BNRDD,2601,{t:%Y-%m-%dT%H:%M:%SZ},{cpm},{cpm // 12},{total},A,{la},{ns},{lo},{ew},{alt:.2f},A,9,112"
        lines.append(sentence(body))
    return "\r\n".join(lines) + "\r\n"


for name, text in [("drive.LOG", bgeigie()), ("drive-2025.LOG", bgeigie_year_before()), ("drive.rctrk", radiacode()), ("drive-ios.rctrk", radiacode_json()),
                   ("drive-database.csv", database_csv()), ("drive.ers", ers()),
                   ("drive-czech.LOG", czech()), ("drive-atomfast.csv", atomfast_csv()),
                   ("drive-atomfast.json", atomfast_json()), ("drive-radiacode.kml", radiacode_kml())]:
    with open(os.path.join(HERE, name), "w", newline="") as out:
        out.write(text)
