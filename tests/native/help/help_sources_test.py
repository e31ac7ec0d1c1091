#!/usr/bin/env python3
"""The help sources in docs/help, checked against themselves and against the resources.

- every page exists in English (en/) and German (de/), and declares its language;
- every link, image and style sheet a page uses resolves inside the help folder, down to
  the anchor;
- the help project (tovral.hhp) lists every page and every file the pages use, its
  default topic exists, and the contents (toc.hhc) name every page of both languages;
- the program's names a page marks with class "ui" (menus, dialog titles, fields,
  buttons, messages) are the ones the resources of the page's language show, and the
  German page uses the German name of every name its English page uses. The names are
  read from resources/velomar_en.rc and velomar_de.rc, the files the program is built
  from.

The second half proves the check finds each kind of fault, on a spoilt copy.

    help_sources_test.py [PROJECT_ROOT]
"""
import html.parser
import os
import re
import shutil
import sys
import tempfile
import unittest
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
LANGUAGES = ("en", "de")

# --- Resources ----------------------------------------------------------------------------

_BLOCK = re.compile(r"^(\w+)\s+(DIALOG|DIALOGEX|MENU|MENUEX|ACCELERATORS)\b|^(STRINGTABLE)\b")
_CONTROL = re.compile(
    r'^\s*(LTEXT|RTEXT|CTEXT|AUTOCHECKBOX|CHECKBOX|DEFPUSHBUTTON|PUSHBUTTON|GROUPBOX|'
    r'AUTORADIOBUTTON|RADIOBUTTON|CONTROL|POPUP|MENUITEM)\s+"((?:[^"]|"")*)"')
_CAPTION = re.compile(r'^\s*CAPTION\s+"((?:[^"]|"")*)"')
_STRING = re.compile(r'^\s*(\w+)\s+"((?:[^"]|"")*)"')


def shown_names(text):
    """The names a resource text shows: mnemonics and the "<F3> " key prefix of a title
    gone, the trailing " ..." of a menu item gone, one name per line."""
    text = text.replace('""', '"').replace("&&", "\0").replace("&", "").replace("\0", "&")
    names = []
    for line in text.split("\\n"):
        line = re.sub(r"^<F\d+>\s*", "", line)
        line = re.sub(r"\s*\.\.\.$", "", line).strip()
        if line:
            names.append(line)
    return names


def read_resources(path):
    """{key: name} for every text of an .rc file. A key is (block, position) for dialogs and
    menus and (STRINGTABLE, identifier) for strings, so the same key names the same item in
    every language's file; a text of several lines gives one key per line."""
    names = {}
    block = None
    position = 0
    with open(path, encoding="utf-8") as rc:
        for raw in rc:
            line = raw.split("//", 1)[0] if not raw.lstrip().startswith('"') else raw
            start = _BLOCK.match(line)
            if start:
                block = start.group(1) or start.group(3)
                position = 0
                continue
            if block is None:
                continue
            texts = []
            caption = _CAPTION.match(line)
            control = _CONTROL.match(line)
            if caption:
                key, texts = (block, "caption"), shown_names(caption.group(1))
            elif control:
                position += 1
                key, texts = (block, position), shown_names(control.group(2))
            elif block == "STRINGTABLE":
                string = _STRING.match(line)
                if string:
                    key, texts = (block, string.group(1)), shown_names(string.group(2))
            for index, text in enumerate(texts):
                names[key + (index,)] = text
    return names


# --- Pages --------------------------------------------------------------------------------

class Page(html.parser.HTMLParser):
    """What the check needs of one page: links, images, style sheets, anchors, the names
    marked as the program's, the language, the character set and the title."""

    def __init__(self, path):
        super().__init__(convert_charrefs=True)
        self.references = []  # (tag, reference)
        self.anchors = set()
        self.ui_names = []
        self.language = None
        self.charset = None
        self.title = ""
        self.images_without_text = 0
        self._ui_depth = 0
        self._ui_text = []
        self._in_title = False
        with open(path, encoding="utf-8") as page:
            self.feed(page.read())
        self.close()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for name in ("id", "name"):
            if tag != "meta" and a.get(name):
                self.anchors.add(a[name])
        if tag == "html":
            self.language = a.get("lang")
        elif tag == "meta" and a.get("charset"):
            self.charset = a["charset"].lower()
        elif tag == "title":
            self._in_title = True
        elif tag == "a" and a.get("href"):
            self.references.append(("a", a["href"]))
        elif tag == "img":
            self.references.append(("img", a.get("src", "")))
            if not a.get("alt"):
                self.images_without_text += 1
        elif tag == "link" and a.get("href"):
            self.references.append(("link", a["href"]))
        if self._ui_depth:
            self._ui_depth += 1
        elif "ui" in (a.get("class") or "").split():
            self._ui_depth = 1
            self._ui_text = []

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        if self._ui_depth:
            self._ui_depth -= 1
            if self._ui_depth == 0:
                text = " ".join("".join(self._ui_text).split())
                self.ui_names.extend(part.strip() for part in text.split(" > "))

    def handle_data(self, data):
        if self._in_title:
            self.title += data
        if self._ui_depth:
            self._ui_text.append(data)


def read_project(path):
    """The [OPTIONS] of a help project and its [FILES], in order."""
    options, files, section = {}, [], None
    with open(path, encoding="utf-8") as hhp:
        for line in hhp:
            line = line.strip()
            if not line or line.startswith(";"):
                continue
            if line.startswith("["):
                section = line.strip("[]").upper()
            elif section == "OPTIONS" and "=" in line:
                key, value = line.split("=", 1)
                options[key.strip()] = value.strip()
            elif section == "FILES":
                files.append(line.replace("\\", "/"))
    return options, files


def check_help(help_dir, rc_files):
    """Every fault found, as one line each; empty when the help is sound."""
    problems = []
    pages = {}
    for language in LANGUAGES:
        folder = os.path.join(help_dir, language)
        names = sorted(n for n in os.listdir(folder) if n.endswith(".html")) if os.path.isdir(folder) else []
        if not names:
            problems.append(f"{language}/: no pages")
        for name in names:
            pages[f"{language}/{name}"] = Page(os.path.join(folder, name))

    # Both languages, page for page.
    for language in LANGUAGES:
        other = [l for l in LANGUAGES if l != language][0]
        for page in sorted(p for p in pages if p.startswith(language + "/")):
            twin = other + page[len(language):]
            if twin not in pages:
                problems.append(f"{page}: missing in {other}/")

    # Each page on its own, and what it points at.
    used = set()
    for page, parsed in sorted(pages.items()):
        language = page.split("/")[0]
        if parsed.language != language:
            problems.append(f"{page}: declares language {parsed.language!r}, lies in {language}/")
        if parsed.charset != "utf-8":
            problems.append(f"{page}: no utf-8 character set declared")
        if not parsed.title.strip():
            problems.append(f"{page}: no title")
        if parsed.images_without_text:
            problems.append(f"{page}: {parsed.images_without_text} image(s) without alt text")
        for tag, reference in parsed.references:
            split = urllib.parse.urlsplit(reference)
            if split.scheme or split.netloc:
                if tag != "a":
                    problems.append(f"{page}: {tag} from outside the help: {reference}")
                continue  # a web link is the reader's business
            target = page if not split.path else os.path.normpath(
                os.path.join(os.path.dirname(page), urllib.parse.unquote(split.path))).replace(os.sep, "/")
            if target.startswith("../") or os.path.isabs(target):
                problems.append(f"{page}: {reference} leaves the help folder")
                continue
            if not os.path.isfile(os.path.join(help_dir, target)):
                problems.append(f"{page}: {tag} {reference} does not resolve")
                continue
            used.add(target)
            if split.fragment:
                anchors = pages[target].anchors if target in pages else set()
                if split.fragment not in anchors:
                    problems.append(f"{page}: anchor {reference} does not exist")

    # The help project and its contents.
    project = os.path.join(help_dir, "tovral.hhp")
    options, listed = read_project(project)
    for needed in sorted(set(pages) | used):
        if needed not in listed:
            problems.append(f"tovral.hhp: does not list {needed}")
    for entry in listed:
        if not os.path.isfile(os.path.join(help_dir, entry)):
            problems.append(f"tovral.hhp: lists {entry}, which does not exist")
    if options.get("Compiled file") != "tovral.chm":
        problems.append("tovral.hhp: does not compile tovral.chm")
    for option in ("Default topic", "Contents file"):
        if not os.path.isfile(os.path.join(help_dir, options.get(option, ""))):
            problems.append(f"tovral.hhp: {option} {options.get(option)!r} does not exist")
    contents = os.path.join(help_dir, options.get("Contents file", "toc.hhc"))
    if os.path.isfile(contents):
        with open(contents, encoding="ascii", errors="replace") as hhc:
            text = hhc.read()
        if "\ufffd" in text:
            problems.append("toc.hhc: not plain ASCII (the viewer reads it in the file's code page)")
        in_contents = re.findall(r'<param name="Local" value="([^"]+)"', text, re.IGNORECASE)
        for entry in in_contents:
            if entry not in pages:
                problems.append(f"toc.hhc: {entry} is no page")
        for page in sorted(pages):
            if page not in in_contents:
                problems.append(f"toc.hhc: {page} is missing")

    # The program's names, from the resources of each language.
    resources = {language: read_resources(path) for language, path in rc_files.items()}
    for language in LANGUAGES:
        known = set(resources[language].values())
        for page, parsed in sorted(pages.items()):
            if page.startswith(language + "/"):
                for name in parsed.ui_names:
                    if name not in known:
                        problems.append(f"{page}: \"{name}\" is not a name the {language} resources show")
    keys_of = {}
    for key, name in resources["en"].items():
        keys_of.setdefault(name, set()).add(key)
    for page, parsed in sorted(pages.items()):
        if not page.startswith("en/") or "de" + page[2:] not in pages:
            continue
        german = set(pages["de" + page[2:]].ui_names)
        for name in dict.fromkeys(parsed.ui_names):
            wanted = {resources["de"].get(key) for key in keys_of.get(name, ())} - {None}
            if wanted and not wanted & german:
                problems.append(f"de{page[2:]}: uses no German name for \"{name}\" "
                                f"(the resources say {' or '.join(sorted(wanted))})")
    return problems


def check_tree(root):
    return check_help(os.path.join(root, "docs", "help"),
                      {"en": os.path.join(root, "resources", "velomar_en.rc"),
                       "de": os.path.join(root, "resources", "velomar_de.rc")})


# --- Tests --------------------------------------------------------------------------------

class HelpSources(unittest.TestCase):
    def test_the_help_is_complete_and_speaks_the_programs_language(self):
        problems = check_tree(ROOT)
        self.maxDiff = None
        self.assertEqual(problems, [], "\n" + "\n".join(problems))

    def test_the_resources_are_read_whole(self):
        # A parser that read little would make the name check pass vacuously.
        en = read_resources(os.path.join(ROOT, "resources", "velomar_en.rc"))
        de = read_resources(os.path.join(ROOT, "resources", "velomar_de.rc"))
        self.assertEqual(set(en), set(de), "both languages have the same items")
        self.assertIn("Lese Objekt", de.values())  # a menu item, " ..." dropped
        self.assertIn("Lese Objekt", [de[k] for k in de if k[1] == "caption"])  # "<F3> " dropped
        self.assertIn("Ausgänge einfrieren", de.values())  # the mnemonic dropped
        self.assertIn("Ausgänge können verändert werden!", de.values())  # second line of a string
        self.assertGreater(len(de), 60)


CHM = None  # a compiled tovral.chm to look into (--chm PATH)


@unittest.skipUnless(CHM or "--chm" in sys.argv, "no compiled help file given (--chm PATH)")
class CompiledHelp(unittest.TestCase):
    """The compiled file holds every file of the project, both languages, under the names
    the program asks for ("::/de/index.html"). The names stand uncompressed in the file's
    directory chunks."""

    def test_every_file_of_the_project_is_in_the_help_file(self):
        with open(CHM, "rb") as chm:
            data = chm.read()
        self.assertEqual(data[:4], b"ITSF", "not a compiled HTML Help file")
        options, listed = read_project(os.path.join(ROOT, "docs", "help", "tovral.hhp"))
        missing = [name for name in listed + [options["Contents file"]] if ("/" + name).encode() not in data]
        self.assertEqual(missing, [])
        for topic in ("/en/index.html", "/de/index.html"):
            self.assertIn(topic.encode(), data)


class CheckFindsFaults(unittest.TestCase):
    """Each fault, made on a copy of the sources, is reported."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="help-check-")
        shutil.copytree(os.path.join(ROOT, "docs", "help"), os.path.join(self.root, "docs", "help"))
        shutil.copytree(os.path.join(ROOT, "resources"), os.path.join(self.root, "resources"))

    def tearDown(self):
        shutil.rmtree(self.root)

    def edit(self, relative, old, new):
        path = os.path.join(self.root, relative)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        self.assertIn(old, text, f"the fault cannot be made in {relative}")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(old, new, 1))

    def assertReported(self, fragment):
        problems = check_tree(self.root)
        self.assertTrue(any(fragment in p for p in problems),
                        f"{fragment!r} not among:\n" + "\n".join(problems))

    def test_a_page_missing_in_german(self):
        os.remove(os.path.join(self.root, "docs", "help", "de", "search.html"))
        self.assertReported("en/search.html: missing in de/")

    def test_a_broken_link_and_a_missing_anchor(self):
        self.edit("docs/help/de/index.html", 'href="files.html"', 'href="dateien.html"')
        self.edit("docs/help/en/index.html", 'href="search.html"', 'href="search.html#nowhere"')
        self.assertReported("de/index.html: a dateien.html does not resolve")
        self.assertReported("en/index.html: anchor search.html#nowhere does not exist")

    def test_a_missing_image(self):
        self.edit("docs/help/en/search.html", "../images/search_en.png", "../images/search.png")
        self.assertReported("en/search.html: img ../images/search.png does not resolve")

    def test_a_page_the_project_does_not_list(self):
        self.edit("docs/help/tovral.hhp", "de/objects.html\n", "")
        self.assertReported("tovral.hhp: does not list de/objects.html")

    def test_a_page_missing_from_the_contents(self):
        self.edit("docs/help/toc.hhc",
                  '<LI><OBJECT type="text/sitemap"><param name="Name" value="Dateien">'
                  '<param name="Local" value="de/files.html"></OBJECT>\n', "")
        self.assertReported("toc.hhc: de/files.html is missing")

    def test_an_english_name_on_a_german_page(self):
        self.edit("docs/help/de/main_window.html", '"ui">Ausgänge einfrieren<', '"ui">Freeze Outputs<')
        self.assertReported('de/main_window.html: "Freeze Outputs" is not a name the de resources show')
        self.assertReported('de/main_window.html: uses no German name for "Freeze Outputs"')

    def test_a_renamed_field_in_the_german_resources(self):
        # The page stays, the program changes: the check reads the resources themselves.
        self.edit("resources/velomar_de.rc", '"Su&bindex (Hex)", IDC_STATIC, 5, 35, 80, 8',
                  '"Su&bindex (hex.)", IDC_STATIC, 5, 35, 80, 8')
        self.edit("resources/velomar_de.rc", '"Su&bindex (Hex)", IDC_STATIC, 5, 35, 95, 8',
                  '"Su&bindex (hex.)", IDC_STATIC, 5, 35, 95, 8')
        self.assertReported('de/objects.html: "Subindex (Hex)" is not a name the de resources show')
        self.assertReported('de/objects.html: uses no German name for "Subindex (Hex)" '
                            '(the resources say Subindex (hex.))')


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        ROOT = os.path.abspath(sys.argv.pop(1))
    if "--chm" in sys.argv:
        at = sys.argv.index("--chm")
        CHM = os.path.abspath(sys.argv[at + 1])
        del sys.argv[at:at + 2]
        sys.argv.append("CompiledHelp")
    unittest.main(verbosity=2)
