#!/usr/bin/python3
"""Renders a Markdown guide to one self-contained HTML file: UTF-8, its
PNG pictures embedded as data: URIs, so that it opens from inside a zip or any
folder with a double click.

usage: guide_html.py GUIDE.md OUT.html
Pictures are read relative to GUIDE.md. The output depends on nothing but the
input files, so that two builds give the same bytes."""
import base64
import html
import pathlib
import sys

import markdown
from markdown.extensions import Extension
from markdown.treeprocessors import Treeprocessor

PAGE = """<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>
body {{ max-width: 46em; margin: 2em auto; padding: 0 1em; line-height: 1.7;
       font-family: "Yu Gothic UI", "Meiryo UI", "Meiryo", "Noto Sans CJK JP", sans-serif; color: #222; }}
h1, h2, h3 {{ line-height: 1.3; }}
h2 {{ border-bottom: 1px solid #ccc; padding-bottom: 0.2em; margin-top: 2em; }}
code {{ font-family: Consolas, "Noto Sans Mono CJK JP", monospace; background: #f2f2f2; padding: 0 0.25em; }}
img {{ max-width: 100%; border: 1px solid #ccc; }}
pre {{ background: #f2f2f2; padding: 0.5em 1em; overflow-x: auto; }}
pre code {{ padding: 0; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""


class EmbedPictures(Treeprocessor):
    def __init__(self, md, folder):
        super().__init__(md)
        self.folder = folder

    def run(self, root):
        for img in root.iter("img"):
            path = self.folder / img.get("src")
            if path.suffix != ".png":
                raise SystemExit(f"{path}: only PNG pictures are embedded")
            img.set("src", "data:image/png;base64," + base64.b64encode(path.read_bytes()).decode("ascii"))


class EmbedPicturesExtension(Extension):
    def __init__(self, folder):
        super().__init__()
        self.folder = folder

    def extendMarkdown(self, md):
        # After "inline", which makes the <img> elements.
        md.treeprocessors.register(EmbedPictures(md, self.folder), "embed_pictures", 5)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    text = source.read_text(encoding="utf-8")
    # The first heading names the page.
    title = next((line.lstrip("#").strip() for line in text.splitlines() if line.startswith("# ")), source.stem)
    body = markdown.markdown(text, extensions=[EmbedPicturesExtension(source.parent)])
    target.write_text(PAGE.format(title=html.escape(title), body=body), encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()
