"""The course roster that the roster page shows, and the photo files behind it."""

import json
from dataclasses import dataclass, field
from pathlib import Path

from . import hosts

PHOTO_STYLES = ("img", "background", "external")
_IMAGE_SIGNATURES = (
    (b"\xff\xd8\xff", "image/jpeg"),
    (b"\x89PNG\r\n\x1a\n", "image/png"),
    (b"GIF87a", "image/gif"),
    (b"GIF89a", "image/gif"),
    (b"II*\x00", "image/tiff"),
    (b"MM\x00*", "image/tiff"),
)
_STUDENT_TEXT_FIELDS = ("studentId", "first", "last", "email", "classOf", "programs")


class RosterError(Exception):
    pass


@dataclass
class RosterRow:
    studentId: str
    first: str
    last: str
    email: str
    classOf: str
    programs: str
    section: str
    photoUrl: str  # empty without a photo
    photoStyle: str  # "" without a photo


@dataclass
class Roster:
    source: str
    course: str
    studentCount: int
    rows: list
    # attachment name -> file, served on the tenant host under /ashgrove/attachment/
    attachments: dict = field(default_factory=dict)
    # file name -> file, served on the web-applications host under /photos/
    externalPhotos: dict = field(default_factory=dict)

    def summary(self):
        return {"source": self.source, "students": self.studentCount, "rows": len(self.rows)}


def photoContentType(data):
    """The type a photo is served with; anything that is not a known image is plain text."""
    for signature, contentType in _IMAGE_SIGNATURES:
        if data.startswith(signature):
            return contentType
    if data[:4] == b"RIFF" and data[8:12] == b"WEBP":
        return "image/webp"
    return "text/plain; charset=utf-8"


def attachmentUrl(name, thumbnail):
    return "%s/ashgrove/attachment/%s%s" % (hosts.TENANT_ORIGIN, name, "?thumbnail=1" if thumbnail else "")


def externalPhotoUrl(name):
    return "https://%s/photos/%s" % (hosts.WEBAPPS_HOST, name)


def loadRosterFile(path):
    path = Path(path)
    try:
        document = json.loads(path.read_text(encoding="utf-8"))
    except OSError as error:
        raise RosterError("cannot read %s: %s" % (path, error.strerror or error))
    except (UnicodeDecodeError, ValueError) as error:
        raise RosterError("%s is not valid JSON: %s" % (path, error))
    if not isinstance(document, dict) or not isinstance(document.get("students"), list):
        raise RosterError("%s has no \"students\" list" % path)
    course = document.get("course")
    students = document["students"]
    for index, student in enumerate(students):
        _checkStudent(path, index, student)
    return buildRoster(str(path), course if isinstance(course, str) else "", students, path.parent)


def _checkStudent(path, index, student):
    where = "%s: student %d" % (path, index)
    if not isinstance(student, dict):
        raise RosterError(where + " is not an object")
    for key in _STUDENT_TEXT_FIELDS:
        if not isinstance(student.get(key, ""), str):
            raise RosterError("%s: \"%s\" is not text" % (where, key))
    sections = student.get("sections", [])
    if not isinstance(sections, list) or not all(isinstance(s, str) for s in sections):
        raise RosterError(where + ": \"sections\" is not a list of text")
    photo, style = student.get("photo"), student.get("photoStyle")
    if photo is not None and not isinstance(photo, str):
        raise RosterError(where + ": \"photo\" is neither text nor null")
    if photo is not None and style not in PHOTO_STYLES:
        raise RosterError("%s: \"photoStyle\" must be one of %s" % (where, ", ".join(PHOTO_STYLES)))


def buildRoster(source, course, students, baseDir):
    """One row per student and section, ordered by section and then by name, so that the rows
    of a student with several sections are apart (as in Workday's report)."""
    rows, attachments, externalPhotos = [], {}, {}
    for index, student in enumerate(students):
        studentId = student.get("studentId", "")
        photoUrl, style = "", ""
        photo = student.get("photo")
        if photo:
            name = "%s-%s" % (studentId or index, Path(photo).name)
            file = (Path(baseDir) / photo).resolve()
            style = student.get("photoStyle")
            if style == "external":
                externalPhotos[name] = file
                photoUrl = externalPhotoUrl(name)
            else:
                attachments[name] = file
                photoUrl = attachmentUrl(name, thumbnail=True)
        for section in student.get("sections") or [""]:
            rows.append(RosterRow(studentId, student.get("first", ""), student.get("last", ""),
                                  student.get("email", ""), student.get("classOf", ""),
                                  student.get("programs", ""), section, photoUrl, style))
    rows.sort(key=lambda row: (row.section, row.last.casefold(), row.first.casefold()))
    return Roster(source, course, len(students), rows, attachments, externalPhotos)


_FIRST_NAMES = ("Ada", "Bilal", "Carmen", "Dario", "Elif", "Femi", "Greta", "Hamid", "Ines", "Jun",
                "Kofi", "Lena", "Mateo", "Nadia", "Omar", "Pilar", "Quinn", "Ravi", "Sofia", "Tariq",
                "Una", "Viktor", "Wanjiru", "Ximena", "Yusuf", "Zora")
_LAST_NAMES = ("Abara", "Brennan", "Castillo", "Dahl", "Eriksen", "Fontaine", "Gupta", "Horvat",
               "Ibsen", "Jovanović", "Kowalski", "Laurent", "Moreau", "Nakamura", "Okafor", "Pereira",
               "Quispe", "Rahman", "Sato", "Takahashi", "Uddin", "Varga", "Wójcik", "Xu", "Yilmaz",
               "Zielinski")
_PROGRAMS = ("Computer Science (BS)", "Mathematics (BA)", "Physics (BS)", "Economics (BA)",
             "Biology (BS)", "Data Science (BS); Statistics (minor)", "")
_SECTIONS = ("COMP 112-01 Introduction to Computing", "COMP 112L-02 Introduction to Computing Laboratory",
             "COMP 112-03 Introduction to Computing")


def generateRoster(count, demo):
    """A roster of `count` students whose photos are taken in turn from the demo roster's images,
    half shown as <img> and half as CSS backgrounds."""
    images = []
    for name, file in sorted(demo.attachments.items()):
        try:
            with open(file, "rb") as handle:
                if photoContentType(handle.read(16)).startswith("image/") and file not in images:
                    images.append(file)
        except OSError:
            continue
    students = []
    for index in range(count):
        # Unique names for the first 676 students, then a numbered family name.
        first = _FIRST_NAMES[index % len(_FIRST_NAMES)]
        last = _LAST_NAMES[(index // len(_FIRST_NAMES)) % len(_LAST_NAMES)]
        if index >= len(_FIRST_NAMES) * len(_LAST_NAMES):
            last += "-%d" % (index // (len(_FIRST_NAMES) * len(_LAST_NAMES)))
        sections = [_SECTIONS[index % 3]]
        if index % 4 == 0:
            sections.append(_SECTIONS[(index + 1) % 3])
        student = {
            "studentId": str(300000 + index),
            "first": first,
            "last": last,
            "email": "%s.%d@ashgrove.test" % (first.lower(), index),
            "classOf": str(2026 + index % 4),
            "programs": _PROGRAMS[index % len(_PROGRAMS)],
            "sections": sections,
            "photo": str(images[index % len(images)]) if images else None,
            "photoStyle": ("img" if index % 2 == 0 else "background") if images else None,
        }
        students.append(student)
    return buildRoster("generated:%d" % count, "COMP 112 + COMP 112L", students, Path("/"))
