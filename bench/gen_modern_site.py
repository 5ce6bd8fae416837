#!/usr/bin/env python3
"""Generates a benchmark site of today's shape: UTF-8 HTML5 pages with quoted attribute values,
a third of the link values naming folders ("sub/", "/a/b/"), root-relative links, images with
srcset candidates and <picture><source srcset>, shared and per-folder stylesheets with url()
and @import, inline style="background: url(...)" attributes. Same seed, counts and base, same
bytes.

    bench/gen_modern_site.py OUT_DIR --base http://127.0.0.1:PORT [--seed N] [--pages N]
                             [--images N]

Besides the site, OUT_DIR/../ gets reachable.txt (every URL path, no leading "/", reachable from
the root through links, image candidates and stylesheet references; a folder link stands for
the folder's index.html) and site.json (counts), as gen_site.py writes them.
"""

import argparse
import json
import os
import random
import sys

from gen_site import WORDS, make_tree, rel_folder, words

CSS_ROOT = "css/"


class Page:
    def __init__(self, folder, name):
        self.folder = folder
        self.name = name
        self.links = []    # (kind, value, target)
        self.images = []   # (markup, targets)

    @property
    def path(self):
        return self.folder + self.name


def link_value(rng, page_folder, target_folder, name):
    """A link from page_folder to target_folder + name ("" names the folder itself)."""
    if rng.random() < 0.35:
        return "root", "/" + target_folder + name
    rel = rel_folder(page_folder, target_folder) + name
    if rel == "":
        return "root", "/" + target_folder
    return ("parent" if rel.startswith("../") else "relative"), rel


def image_markup(rng, page_folder, base_path):
    """Markup for one picture with its candidates; returns (html, target paths)."""
    stem = base_path[: -len(".jpg")]
    wide = stem + "@2x.jpg"
    folder = base_path[: base_path.rfind("/") + 1]

    def ref(path):
        if rng.random() < 0.3:
            return "/" + path
        return rel_folder(page_folder, folder) + path[len(folder):]

    roll = rng.random()
    alt = words(rng, 2)
    if roll < 0.5:
        html = '<img src="%s" srcset="%s 1x, %s 2x" alt="%s" loading="lazy">' % (
            ref(base_path), ref(base_path), ref(wide), alt)
        return html, [base_path, wide]
    if roll < 0.8:
        webp = stem + ".webp"
        html = ('<picture><source type="image/webp" srcset="%s 480w, %s 960w">'
                '<img src="%s" alt="%s"></picture>') % (ref(webp), ref(wide), ref(base_path), alt)
        return html, [webp, wide, base_path]
    html = '<div class="hero" style="background-image: url(\'%s\')"></div>' % ref(base_path)
    return html, [base_path]


def render(page, rng, title, stylesheets):
    out = ["<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n",
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n",
           "<title>%s</title>\n" % title]
    for href in stylesheets:
        out.append('<link rel="stylesheet" href="%s">\n' % href)
    out.append("</head>\n<body>\n<header><nav><a href=\"/\">Home</a></nav></header>\n")
    out.append("<main>\n<h1>%s</h1>\n" % title)
    links = list(page.links)
    images = list(page.images)
    while links or images:
        out.append("<p>%s" % words(rng, rng.randint(20, 60)))
        for _ in range(rng.randint(1, 3)):
            if not links:
                break
            kind, value, _ = links.pop(0)
            if kind == "external":
                out.append(' <a href="%s" rel="external">%s</a> ' % (value, words(rng, 2)))
            else:
                out.append(' <a class="link" href="%s">%s</a> ' % (value, words(rng, 3)))
            out.append(words(rng, rng.randint(3, 10)))
        out.append("</p>\n")
        if images and rng.random() < 0.7:
            out.append(images.pop(0)[0] + "\n")
    out.append("</main>\n<footer>%s</footer>\n</body>\n</html>\n" % words(rng, 5))
    return "".join(out).encode("utf-8")


def image_bytes(rng, name):
    size = rng.randint(2000, 30000)
    if name.endswith(".webp"):
        head = b"RIFF\x00\x00\x00\x00WEBPVP8 "
    elif name.endswith(".png"):
        head = b"\x89PNG\r\n\x1a\n"
    else:
        head = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00"
    return head + rng.randbytes(size - len(head))


def generate(out_dir, seed, page_count, image_count, max_depth):
    rng = random.Random(seed)
    folders, _ = make_tree(rng, max(1, page_count // 16), max_depth)
    pages, by_folder = [], {f: [] for f in folders}
    for f in folders:
        page = Page(f, "index.html")
        pages.append(page)
        by_folder[f].append(page)
    for i in range(page_count - len(folders)):
        f = rng.choice(folders)
        page = Page(f, "p%d.html" % (i + 1))
        pages.append(page)
        by_folder[f].append(page)

    files = {}
    # Shared stylesheets: site.css imports base.css; both name images and a font by url().
    files[CSS_ROOT + "base.css"] = (
        "body { font-family: 'Body', sans-serif; }\n"
        "@font-face { font-family: 'Body'; src: url(\"/fonts/body.woff2\") format('woff2'); }\n"
    ).encode()
    files[CSS_ROOT + "site.css"] = (
        '@import url("base.css");\n'
        "header { background: #fff url(../img/header.png) no-repeat; }\n"
        "nav a { background-image: url('/img/arrow.png'); }\n"
    ).encode()
    for path in ("fonts/body.woff2", "img/header.png", "img/arrow.png"):
        files[path] = image_bytes(rng, path)
    css_refs = {CSS_ROOT + "site.css": [CSS_ROOT + "base.css", "img/header.png", "img/arrow.png"],
                CSS_ROOT + "base.css": ["fonts/body.woff2"]}
    # A stylesheet in a third of the folders, with a background of its own.
    folder_css = {}
    for f in rng.sample(folders, max(1, len(folders) // 3)):
        css, bg = f + "local.css", f + "bg.png"
        files[css] = ("@import '/%ssite.css';\nmain { background: url(bg.png) repeat-x; }\n"
                      % CSS_ROOT).encode()
        files[bg] = image_bytes(rng, bg)
        css_refs[css] = [CSS_ROOT + "site.css", bg]
        folder_css[f] = css

    picture_paths = []
    for i in range(max(1, image_count // 3)):
        f = rng.choice(folders)
        picture_paths.append(f + "photo%d.jpg" % (i + 1))

    def add_link(page, target_folder, name):
        kind, value = link_value(rng, page.folder, target_folder, name)
        page.links.append((kind, value, target_folder + (name or "index.html")))

    for f in folders[1:]:
        parent = f[: f[:-1].rfind("/") + 1]
        add_link(by_folder[parent][0], f, "")
    for page in pages:
        siblings = by_folder[page.folder]
        position = siblings.index(page)
        if position:
            add_link(rng.choice(siblings[:position]), page.folder, page.name)
    for path in picture_paths:
        folder = path[: path.rfind("/") + 1]
        holder = rng.choice(by_folder[folder])
        holder.images.append(image_markup(rng, holder.folder, path))
    for page in pages:
        # A third of the link values name folders.
        for _ in range(rng.randint(3, 6)):
            target = rng.choice(pages)
            add_link(page, target.folder, target.name)
        for _ in range(rng.randint(2, 3)):
            add_link(page, rng.choice(folders), "")
        if rng.random() < 0.3:
            page.images.append(image_markup(rng, page.folder, rng.choice(picture_paths)))
        if rng.random() < 0.3:
            page.links.append(("external", "https://cdn.example.invalid/lib.js", None))
        rng.shuffle(page.links)

    for f in folders:
        os.makedirs(os.path.join(out_dir, f), exist_ok=True)
    for path in files:
        os.makedirs(os.path.join(out_dir, os.path.dirname(path)), exist_ok=True)
    for path in picture_paths:
        stem = path[: -len(".jpg")]
        for variant in (path, stem + "@2x.jpg", stem + ".webp"):
            files[variant] = image_bytes(rng, variant)
    site_bytes = 0
    followed = {}
    for page in pages:
        sheets = ["/" + CSS_ROOT + "site.css"]
        if page.folder in folder_css:
            sheets.append("local.css")
        data = render(page, rng, "%s %s" % (words(rng, 2).title(), page.name), sheets)
        with open(os.path.join(out_dir, page.path), "wb") as fh:
            fh.write(data)
        site_bytes += len(data)
        targets = [t for k, _, t in page.links if t is not None]
        targets += [t for _, paths in page.images for t in paths]
        targets += [CSS_ROOT + "site.css"] + ([folder_css[page.folder]]
                                              if page.folder in folder_css else [])
        targets.append(folders[0] + "index.html")  # the "Home" link
        followed[page.path] = targets
    for path, data in files.items():
        with open(os.path.join(out_dir, path), "wb") as fh:
            fh.write(data)
        site_bytes += len(data)
    followed.update(css_refs)

    reachable, todo = set(), ["index.html"]
    while todo:
        path = todo.pop()
        if path not in reachable:
            reachable.add(path)
            todo.extend(t for t in followed.get(path, []) if t not in reachable)
    kinds = {}
    for page in pages:
        for kind, _, _ in page.links:
            kinds[kind] = kinds.get(kind, 0) + 1
    values = [v for page in pages for k, v, _ in page.links if k != "external"]
    stats = {
        "profile": "modern", "seed": seed, "folders": len(folders), "pages": len(pages),
        "files": len(pages) + len(files), "bytes": site_bytes, "reachable": len(reachable),
        "reachable_bytes": sum(os.path.getsize(os.path.join(out_dir, p)) for p in reachable),
        "links": kinds, "directory_links": sum(1 for v in values if v.endswith("/")),
        "root_relative_links": sum(1 for v in values if v.startswith("/")),
        "link_values": len(values), "stylesheets": len(css_refs),
    }
    return sorted(reachable), stats


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir")
    parser.add_argument("--base", required=True, help="http://HOST:PORT the site is served at")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--images", type=int, default=2000)
    parser.add_argument("--max-depth", type=int, default=4)
    args = parser.parse_args()
    if os.path.exists(args.out_dir) and os.listdir(args.out_dir):
        sys.exit("gen_modern_site: %s is not empty" % args.out_dir)
    os.makedirs(args.out_dir, exist_ok=True)
    reachable, stats = generate(args.out_dir, args.seed, args.pages, args.images, args.max_depth)
    stats["base"] = args.base
    parent = os.path.dirname(os.path.abspath(args.out_dir))
    with open(os.path.join(parent, "reachable.txt"), "w") as fh:
        fh.write("".join(p + "\n" for p in reachable))
    with open(os.path.join(parent, "site.json"), "w") as fh:
        json.dump(stats, fh, indent=1)
    print(json.dumps(stats))


if __name__ == "__main__":
    main()
