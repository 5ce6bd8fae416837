#!/usr/bin/env python3
"""Generates the benchmark's web site: a deterministic tree of HTML pages, images and applet
classes in nested folders, and the list of files that a copier following the page links must
save.

    bench/gen_site.py OUT_DIR --base http://127.0.0.1:PORT [--seed N] [--pages N] [--images N]

The same seed, counts and base give the same bytes. Every folder has an index file (index.html,
some index.htm). Pages link to each other with relative, "./", "../" and absolute same-site
links and to folders ("sub/"); they also hold links to other hosts (never to be followed),
links inside comments (to pages that nothing else links to), broken links, "img src",
"body background" and "applet code". About 5% of the pages are EUC-JP.

Besides the site, OUT_DIR/../ gets:
  reachable.txt   every URL path (no leading "/") reachable from the root through links that
                  a copier follows: outside comments, on this server; directory links stand
                  for the directory's index file
  site.json       counts: pages, images, classes, folders, bytes, links by kind
"""

import argparse
import json
import os
import random
import sys

WORDS = (
    "archive board catalogue chapter contents course design detail document edition essay "
    "example feature figure garden gallery guide history index journal library lecture list "
    "manual member minutes network notes office outline paper picture program project "
    "question record report review river schedule science section series station summary "
    "survey table teacher topic travel update village volume weather winter workshop"
).split()

JAPANESE = (
    "日本語のページです。", "お知らせ", "研究室の紹介", "最新情報を更新しました。", "写真集",
    "東京都内の地図", "よくある質問", "講義資料の一覧", "連絡先はこちらです。", "春の行事予定",
)

OTHER_HOSTS = ("http://127.0.0.2:{port}/", "http://127.0.0.1:1/")


class Page:
    def __init__(self, folder, name, euc):
        self.folder = folder          # "" for the root, else "a/b/"
        self.name = name
        self.euc = euc
        self.links = []               # (kind, value, target path or None)
        self.images = []              # (attribute, value, target path)

    @property
    def path(self):
        return self.folder + self.name


def rel_folder(from_folder, to_folder):
    """Relative text from one folder to another, both "" or ending in "/"."""
    a = [p for p in from_folder.split("/") if p]
    b = [p for p in to_folder.split("/") if p]
    common = 0
    while common < len(a) and common < len(b) and a[common] == b[common]:
        common += 1
    return "../" * (len(a) - common) + "".join(p + "/" for p in b[common:])


def link_value(rng, base, page_folder, target_folder, name):
    """One written form of a link from a page in page_folder to target_folder + name (name may
    be empty for a directory link). Returns (form, value)."""
    rel = rel_folder(page_folder, target_folder) + name
    roll = rng.random()
    if roll < 0.15:
        return "absolute", base + target_folder + name
    if roll < 0.30 and not rel.startswith("../"):
        if rel == "":
            return "absolute", base + target_folder
        return "dot", "./" + rel
    if rel == "":
        # A link to the page's own folder: written absolute, which every copier follows.
        return "absolute", base + target_folder
    return ("parent" if rel.startswith("../") else "relative"), rel


def make_tree(rng, folders_wanted, max_depth):
    folders = [""]
    depth = {"": 0}
    serial = 0
    while len(folders) < folders_wanted:
        parent = rng.choice(folders)
        if depth[parent] >= max_depth:
            continue
        serial += 1
        name = "%s%d/" % (rng.choice(WORDS), serial)
        child = parent + name
        folders.append(child)
        depth[child] = depth[parent] + 1
    return folders, depth


def words(rng, count):
    return " ".join(rng.choice(WORDS) for _ in range(count))


def render(page, rng, title, base):
    """The page's bytes."""
    out = []
    charset = "EUC-JP" if page.euc else "iso-8859-1"
    out.append('<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">\n')
    out.append("<html>\n<head>\n")
    out.append('<meta http-equiv="Content-Type" content="text/html; charset=%s">\n' % charset)
    if page.euc:
        title = rng.choice(JAPANESE) + " " + title
    out.append("<title>%s</title>\n" % title)
    out.append('<link rel="stylesheet" type="text/css" href="http://127.0.0.2/style.css">\n')
    out.append("</head>\n")
    backgrounds = [v for a, v, _ in page.images if a == "background"]
    if backgrounds:
        out.append('<body background="%s" bgcolor="#ffffff" text="#000000">\n' % backgrounds[0])
    else:
        out.append('<body bgcolor="#ffffff" text="#000000">\n')
    out.append("<h1>%s</h1>\n" % title)
    images = [(a, v) for a, v, _ in page.images if a != "background"]
    links = list(page.links)
    while links or images:
        out.append("<p>")
        if page.euc:
            out.append(rng.choice(JAPANESE))
        out.append(words(rng, rng.randint(25, 70)))
        for _ in range(rng.randint(1, 3)):
            if not links:
                break
            kind, value, _ = links.pop(0)
            text = words(rng, rng.randint(1, 4))
            if kind == "comment":
                out.append("\n<!-- moved: <a href=\"%s\">%s</a> -->\n" % (value, text))
            elif rng.random() < 0.2:
                out.append(" <A HREF=%s>%s</A> " % (value, text))
            else:
                out.append(' <a href="%s" title="%s">%s</a> ' % (value, text, text))
            out.append(words(rng, rng.randint(3, 12)))
        out.append("</p>\n")
        if images and rng.random() < 0.7:
            attribute, value = images.pop(0)
            if attribute == "code":
                out.append('<applet code="%s" width="120" height="60">'
                           "<param name=\"speed\" value=\"3\"></applet>\n" % value)
            else:
                out.append('<img src="%s" alt="%s" width="%d" height="%d">\n'
                           % (value, words(rng, 2), rng.randint(40, 400), rng.randint(40, 300)))
    out.append("<hr>\n<address>%s</address>\n</body>\n</html>\n" % words(rng, 4))
    text = "".join(out)
    return text.encode("euc_jp") if page.euc else text.encode("ascii")


def image_bytes(rng, name):
    size = rng.randint(1500, 28000)
    head = b"GIF89a" if name.endswith(".gif") else b"\xff\xd8\xff\xe0\x00\x10JFIF\x00"
    return head + rng.randbytes(size - len(head))


def class_bytes(rng):
    return b"\xca\xfe\xba\xbe\x00\x00\x00\x2e" + rng.randbytes(rng.randint(800, 4000))


def generate(out_dir, base, seed, page_count, image_count, max_depth):
    rng = random.Random(seed)
    port = base.rstrip("/").rsplit(":", 1)[-1]
    folder_count = max(1, page_count // 16)
    folders, depth = make_tree(rng, folder_count, max_depth)
    index_name = {f: ("index.htm" if f and rng.random() < 0.1 else "index.html") for f in folders}

    pages = []
    by_folder = {f: [] for f in folders}
    for f in folders:
        page = Page(f, index_name[f], rng.random() < 0.05)
        pages.append(page)
        by_folder[f].append(page)
    orphan_count = max(1, page_count // 100)
    regular = page_count - len(folders) - orphan_count
    for i in range(regular):
        f = rng.choice(folders)
        page = Page(f, "p%d.html" % (i + 1), rng.random() < 0.05)
        pages.append(page)
        by_folder[f].append(page)
    orphans = []
    for i in range(orphan_count):
        f = rng.choice(folders)
        orphans.append(Page(f, "old%d.html" % (i + 1), False))

    files = {}  # path -> bytes of non-page files
    backgrounds = [f + "bg.gif" for f in rng.sample(folders, max(1, len(folders) // 3))]
    image_paths = []
    for i in range(image_count - len(backgrounds)):
        f = rng.choice(folders)
        name = ("img%d.gif" if rng.random() < 0.6 else "photo%d.jpg") % (i + 1)
        image_paths.append(f + name)
    class_paths = [f + "Clock%d.class" % i for i, f in enumerate(rng.sample(folders, min(20, len(folders))))]
    for path in image_paths + backgrounds:
        files[path] = image_bytes(rng, path)
    for path in class_paths:
        files[path] = class_bytes(rng)

    def add_link(page, target_folder, name, kind=None):
        form, value = link_value(rng, base, page.folder, target_folder, name)
        target = target_folder + (name if name else index_name[target_folder])
        page.links.append((kind or form, value, target))

    # A spanning tree: each folder's index is linked from its parent's index as a directory
    # link, each page from a page of its folder or of the parent folder.
    for f in folders[1:]:
        parent = f[: f[:-1].rfind("/") + 1]
        add_link(by_folder[parent][0], f, "")
    for page in pages:
        siblings = by_folder[page.folder]
        position = siblings.index(page)
        if position == 0:
            continue  # the folder's index, linked from the parent folder
        # A page of the same folder that comes earlier (the index first of all): by induction
        # every page hangs on the root.
        add_link(rng.choice(siblings[:position]), page.folder, page.name)
    for path in image_paths + class_paths:
        folder = path[: path.rfind("/") + 1]
        holder = rng.choice(by_folder[folder])
        attribute = "code" if path.endswith(".class") else "src"
        holder.images.append((attribute, rel_folder(holder.folder, folder) + path[len(folder):], path))

    # Links that make it a web rather than a tree.
    for page in pages:
        for _ in range(rng.randint(4, 10)):
            target = rng.choice(pages)
            add_link(page, target.folder, target.name)
        if rng.random() < 0.5:
            add_link(page, rng.choice(folders), "")
        for _ in range(rng.randint(1, 3)):
            path = rng.choice(image_paths)
            folder = path[: path.rfind("/") + 1]
            page.images.append(("src", rel_folder(page.folder, folder) + path[len(folder):], path))
        mine = [b for b in backgrounds if b.startswith(page.folder) and "/" not in b[len(page.folder):]]
        if mine and rng.random() < 0.6:
            page.images.insert(0, ("background", "bg.gif", mine[0]))
        if rng.random() < 0.3:
            page.links.append(("external", rng.choice(OTHER_HOSTS).format(port=port)
                               + "ext/%s.html" % rng.choice(WORDS), None))
        if rng.random() < 0.02:
            page.links.append(("broken", "gone%d.html" % rng.randint(1, 9999), None))
        rng.shuffle(page.links)
    for orphan in orphans:
        holder = rng.choice(pages)
        form, value = link_value(rng, base, holder.folder, orphan.folder, orphan.name)
        holder.links.append(("comment", value, None))
        add_link(orphan, "", index_name[""])

    # Write the site.
    site_bytes = 0
    for f in folders:
        os.makedirs(os.path.join(out_dir, f), exist_ok=True)
    for page in pages + orphans:
        data = render(page, rng, "%s %s" % (words(rng, 2).title(), page.name), base)
        with open(os.path.join(out_dir, page.path), "wb") as fh:
            fh.write(data)
        site_bytes += len(data)
    for path, data in files.items():
        with open(os.path.join(out_dir, path), "wb") as fh:
            fh.write(data)
        site_bytes += len(data)

    # What a copier that follows the links outside comments must save.
    followed = {}
    for page in pages + orphans:
        followed[page.path] = [t for k, _, t in page.links if t is not None and k != "comment"]
        followed[page.path] += [t for _, _, t in page.images]
    reachable = set()
    todo = [index_name[""]]
    while todo:
        path = todo.pop()
        if path in reachable:
            continue
        reachable.add(path)
        todo.extend(t for t in followed.get(path, []) if t not in reachable)

    kinds = {}
    for page in pages + orphans:
        for kind, _, _ in page.links:
            kinds[kind] = kinds.get(kind, 0) + 1
    directory_links = sum(1 for page in pages for k, v, _ in page.links
                          if k != "comment" and k != "external" and v.endswith("/"))
    stats = {
        "seed": seed, "base": base, "folders": len(folders), "pages": len(pages) + len(orphans),
        "orphan_pages": len(orphans), "euc_pages": sum(p.euc for p in pages),
        "images": len(image_paths) + len(backgrounds), "classes": len(class_paths),
        "files": len(pages) + len(orphans) + len(files), "bytes": site_bytes,
        "reachable": len(reachable),
        "reachable_bytes": sum(os.path.getsize(os.path.join(out_dir, p)) for p in reachable),
        "links": kinds, "directory_links": directory_links,
        "index_htm_folders": sum(1 for f in folders if index_name[f] == "index.htm"),
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
    base = args.base.rstrip("/") + "/"
    if os.path.exists(args.out_dir) and os.listdir(args.out_dir):
        sys.exit("gen_site: %s is not empty" % args.out_dir)
    os.makedirs(args.out_dir, exist_ok=True)
    reachable, stats = generate(args.out_dir, base, args.seed, args.pages, args.images,
                                args.max_depth)
    parent = os.path.dirname(os.path.abspath(args.out_dir))
    with open(os.path.join(parent, "reachable.txt"), "w") as fh:
        fh.write("".join(p + "\n" for p in reachable))
    with open(os.path.join(parent, "site.json"), "w") as fh:
        json.dump(stats, fh, indent=1, ensure_ascii=False)
    print(json.dumps(stats, ensure_ascii=False))


if __name__ == "__main__":
    main()
