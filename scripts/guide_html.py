#!/usr/bin/python3
"""Renders a Markdown guide to one self-contained HTML file: UTF-8, its
PNG pictures embedded as data: URIs, so that it opens from inside a zip or any
folder with a double click. Under the first heading it puts the version and a
table of contents of the second-level headings. "{version}" in the guide
becomes the version, so that commands name the real files; a space between a
number and its unit ("1 秒", "106/109 キー", "200 %") becomes a no-break
space.

usage: guide_html.py GUIDE.md OUT.html VERSION
Pictures are read relative to GUIDE.md. They are taken at 192 DPI and shown at
half their pixel size, so that they are sharp on a display at 200 %. The
output depends on nothing but the inputs, so that two builds give the same
bytes."""
import base64
import html
import pathlib
import re
import struct
import sys

import markdown
from markdown.extensions import Extension
from markdown.extensions.toc import slugify_unicode
from markdown.treeprocessors import Treeprocessor

# line-break: strict keeps small kana and the long-vowel mark from starting a
# line. Meiryo and Yu Gothic Medium are made for reading; the UI fonts after
# them are set tighter for labels. About 40 characters a line.
PAGE = """<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>
body {{ max-width: 40em; margin: 2em auto; padding: 0 1em; line-height: 1.8; line-break: strict; text-wrap: pretty;
       font-family: Meiryo, "Yu Gothic Medium", "Yu Gothic UI", "Meiryo UI", "Noto Sans CJK JP", sans-serif;
       color: #222; }}
h1, h2, h3 {{ line-height: 1.4; }}
h2 {{ border-bottom: 1px solid #ccc; padding-bottom: 0.2em; margin-top: 2em; }}
.version {{ color: #555; margin-top: -0.5em; }}
nav.toc {{ background: #f6f6f6; padding: 0.5em 1em; }}
nav.toc p {{ margin: 0; font-weight: bold; }}
nav.toc ul {{ margin: 0.3em 0; padding-left: 1.5em; }}
code {{ font-family: Consolas, "Noto Sans Mono CJK JP", monospace; background: #f2f2f2; padding: 0 0.25em;
       overflow-wrap: anywhere; }}
img {{ max-width: 100%; height: auto; border: 1px solid #ccc; }}
pre {{ background: #f2f2f2; padding: 0.5em 1em; white-space: pre-wrap; overflow-wrap: anywhere; }}
pre code {{ padding: 0; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise SystemExit("not a PNG picture")
    return struct.unpack(">II", data[16:24])


class EmbedPictures(Treeprocessor):
    def __init__(self, md, folder):
        super().__init__(md)
        self.folder = folder

    def run(self, root):
        for img in root.iter("img"):
            path = self.folder / img.get("src")
            if path.suffix != ".png":
                raise SystemExit(f"{path}: only PNG pictures are embedded")
            data = path.read_bytes()
            width, height = png_size(data)
            img.set("width", str(width // 2))
            img.set("height", str(height // 2))
            img.set("src", "data:image/png;base64," + base64.b64encode(data).decode("ascii"))


class EmbedPicturesExtension(Extension):
    def __init__(self, folder):
        super().__init__()
        self.folder = folder

    def extendMarkdown(self, md):
        # After "inline", which makes the <img> elements.
        md.treeprocessors.register(EmbedPictures(md, self.folder), "embed_pictures", 5)


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    source, target, version = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
    text = source.read_text(encoding="utf-8")
    # cmd reads "<" as a redirection: a command must name the real file.
    if "<バージョン>" in text:
        raise SystemExit(f"{source}: write {{version}}, not <バージョン>")
    text = re.sub(r"(\d) (キー|秒|%)", "\\1\u00a0\\2", text.replace("{version}", version))
    # The first heading names the page.
    title = next((line.lstrip("#").strip() for line in text.splitlines() if line.startswith("# ")), source.stem)
    md = markdown.Markdown(extensions=[
        "tables", EmbedPicturesExtension(source.parent),
        markdown.extensions.toc.TocExtension(toc_depth="2-2", slugify=slugify_unicode)])
    body = md.convert(text)
    top = (f'<p class="version">バージョン {html.escape(version)}</p>\n'
           f'<nav class="toc">\n<p>目次</p>\n{md.toc}</nav>')
    head, cut, rest = body.partition("</h1>")
    if not cut:
        raise SystemExit(f"{source}: no first-level heading")
    page = PAGE.format(title=html.escape(f"{title} {version}"), body=head + cut + "\n" + top + rest)
    target.write_text(page, encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
