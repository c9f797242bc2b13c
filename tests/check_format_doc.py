"""Keeps docs/FORMAT.md in step with the encoder, using the golden documents as the witness.

    check_format_doc.py FORMAT.md GOLDEN_DIR

Conventions in FORMAT.md that this reads:
  - A ```json block is an example. If the nearest non-blank line above it is
    <!-- golden: NAME.json --> it must occur, as a whole value, inside that golden document;
    otherwise inside any of them. "Occur" means equal with keys in the same order.
  - A heading's `backticked` words, plus those of a line starting "Variants:" in its section,
    are the variant names that section describes.
  - A line starting "Keys:" lists a map's keys, `backticked`, in order.
Every map shape in the golden documents must be described: a map with "variant" V and keys K
needs a section naming V with a Keys line equal to K; a map without "variant" needs a Keys line
equal to its keys in a section naming no variant. Conversely a Keys line must match a shape seen
in the golden documents (for a variant they never show, it is only reported).
"""

import json
import re
import sys
from pathlib import Path

FENCE = re.compile(r"^```json\s*$")
MARKER = re.compile(r"^<!--\s*golden:\s*([\w.-]+\.json)\s*-->\s*$")
HEADING = re.compile(r"^#{1,6}\s+(.*)$")
TICKED = re.compile(r"`([^`]+)`")


def ordered(text):
    """JSON with objects as tuples of (key, value) pairs, so that key order takes part in
    equality."""
    return json.loads(text, object_pairs_hook=lambda pairs: ("{}", tuple(pairs)))


def is_map(v):
    return isinstance(v, tuple) and len(v) == 2 and v[0] == "{}"


def nodes(v):
    yield v
    if is_map(v):
        for _, child in v[1]:
            yield from nodes(child)
    elif isinstance(v, list):
        for child in v:
            yield from nodes(child)


def load_goldens(golden_dir):
    goldens = {}
    for path in sorted(Path(golden_dir).glob("*.json")):
        doc = ordered(path.read_text(encoding="utf-8"))
        if isinstance(doc, list):  # error files hold {"error": ...}, not a document
            goldens[path.name] = doc
    return goldens


def shapes_of(goldens):
    with_variant, without = {}, {}
    for name, doc in goldens.items():
        for n in nodes(doc):
            if not is_map(n):
                continue
            keys = tuple(k for k, _ in n[1])
            values = dict(n[1])
            if "variant" in values:
                with_variant.setdefault(values["variant"], {}).setdefault(keys, name)
            else:
                without.setdefault(keys, name)
    return with_variant, without


def read_doc(path):
    """Returns (examples, sections): examples as (line number, golden name or None, text);
    sections as dicts with their variant names and Keys lines."""
    lines = Path(path).read_text(encoding="utf-8").splitlines()
    examples, sections = [], [{"title": "(top)", "variants": set(), "keys": []}]
    i = 0
    while i < len(lines):
        line = lines[i]
        if FENCE.match(line):
            j = i - 1
            while j >= 0 and not lines[j].strip():
                j -= 1
            m = MARKER.match(lines[j]) if j >= 0 else None
            end = i + 1
            while end < len(lines) and lines[end].strip() != "```":
                end += 1
            examples.append((i + 1, m.group(1) if m else None, "\n".join(lines[i + 1:end])))
            i = end + 1
            continue
        h = HEADING.match(line)
        if h:
            sections.append({"title": h.group(1), "variants": set(TICKED.findall(h.group(1))),
                             "keys": []})
        elif line.startswith("Variants:"):
            sections[-1]["variants"].update(TICKED.findall(line))
        elif line.startswith("Keys:"):
            sections[-1]["keys"].append((i + 1, tuple(TICKED.findall(line))))
        i += 1
    return examples, sections


def check(doc_path, golden_dir):
    errors, notes = [], []
    goldens = load_goldens(golden_dir)
    if not goldens:
        return [f"no golden documents in {golden_dir}"], notes
    examples, sections = read_doc(doc_path)
    if not examples:
        errors.append("FORMAT.md has no ```json examples")

    for line, golden, text in examples:
        try:
            fragment = ordered(text)
        except ValueError as e:
            errors.append(f"FORMAT.md:{line}: example is not JSON: {e}")
            continue
        if golden is not None and golden not in goldens:
            errors.append(f"FORMAT.md:{line}: golden file {golden} does not exist (or is an error)")
            continue
        pool = [golden] if golden else list(goldens)
        if not any(fragment == n for name in pool for n in nodes(goldens[name])):
            where = golden or "any golden document"
            errors.append(f"FORMAT.md:{line}: example does not occur in {where} "
                          "(same keys, same order, same values)")

    with_variant, without = shapes_of(goldens)

    def described(variant, keys):
        for s in sections:
            names_it = (not s["variants"]) if variant is None else (variant in s["variants"])
            if names_it and any(k == keys for _, k in s["keys"]):
                return True
        return False

    for variant, shapes in sorted(with_variant.items()):
        for keys, golden in shapes.items():
            if not described(variant, keys):
                errors.append(f"variant {variant!r} with keys {list(keys)} (seen in {golden}) "
                              "has no section naming it with that Keys line")
    for keys, golden in sorted(without.items()):
        if not described(None, keys):
            errors.append(f"map with keys {list(keys)} (seen in {golden}) has no Keys line in a "
                          "section that names no variant")

    for s in sections:
        for line, keys in s["keys"]:
            if not keys:
                errors.append(f"FORMAT.md:{line}: Keys line lists no `keys`")
            elif not s["variants"]:
                if keys not in without:
                    errors.append(f"FORMAT.md:{line}: keys {list(keys)} of section "
                                  f"{s['title']!r} match no map in the golden documents")
            else:
                for v in sorted(s["variants"]):
                    if v not in with_variant:
                        notes.append(f"FORMAT.md:{line}: variant {v!r} does not occur in the "
                                     "golden documents; its keys are not checked")
                    elif keys not in with_variant[v]:
                        errors.append(f"FORMAT.md:{line}: keys {list(keys)} documented for "
                                      f"{v!r} match none of its golden shapes "
                                      f"{[list(k) for k in with_variant[v]]}")
    return errors, notes


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    errors, notes = check(argv[1], argv[2])
    for n in notes:
        print("note:", n)
    for e in errors:
        print("error:", e)
    print(f"{len(errors)} error(s)")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
