#!/usr/bin/env python3
"""Lists the C++ functions whose definitions run longer than a limit (60 lines unless told).

    tools/long_functions.py [--limit N] [folder or file ...]   (default: src)

A function is counted from the first line of its name to its closing brace; lambdas and local
classes count towards the function around them. Reads the text only: comments, strings and
preprocessor lines are set aside, and a brace that follows a closing parenthesis (with at most
qualifiers, a trailing return type or a constructor's initialisers between) at namespace or class
level opens a function. Exits 1 when it lists anything, so that a check can rely on it."""

import argparse
import pathlib
import re
import sys

CONTROL = re.compile(r"^\s*(if|for|while|switch|catch|do|else|return|case)\b")
SCOPE = re.compile(r"\b(namespace|class|struct|union|enum)\b[^()]*$")


def blank_out(text):
    """The text with comments, string and character literals and preprocessor lines replaced by
    spaces (newlines kept), so that line numbers stay."""
    out, i, n = [], 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#" or (line_start and c in " \t" and text[i:].lstrip(" \t").startswith("#")):
            j = i
            while j < n:  # a directive, with its continuation lines
                k = text.find("\n", j)
                if k < 0:
                    k = n
                if k > 0 and text[k - 1] == "\\":
                    j = k + 1
                    continue
                break
            out.append(re.sub(r"[^\n]", " ", text[i:k]))
            i = k
            continue
        if text.startswith("//", i):
            k = text.find("\n", i)
            k = n if k < 0 else k
            out.append(" " * (k - i))
            i = k
            continue
        if text.startswith("/*", i):
            k = text.find("*/", i + 2)
            k = n if k < 0 else k + 2
            out.append(re.sub(r"[^\n]", " ", text[i:k]))
            i = k
            continue
        m = re.match(r'R"([^(\s]*)\(', text[i:i + 20]) if c == "R" else None
        if m and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + m.group(1) + '"', i)
            k = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:k]))
            i = k
            continue
        if c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # a digit separator
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(" " * (min(j + 1, n) - i))
            i = j + 1
            continue
        out.append(c)
        line_start = c == "\n" or (line_start and c in " \t")
        i += 1
    return "".join(out)


def functions(text):
    """(name, first line, last line) of every function defined at namespace or class level."""
    code = blank_out(text)
    found = []
    stack = []  # "scope" (namespace, class, extern block) or "function"/"other" for each open brace
    head_start = 0  # where the text before the next brace begins
    depth_in_function = 0
    initialisers = None  # a constructor whose member initialisers in braces are being passed
    for i, c in enumerate(code):
        if c == ";" and depth_in_function == 0:
            head_start = i + 1
        elif c == "{":
            if depth_in_function:
                depth_in_function += 1
                continue
            head = code[head_start:i]
            if initialisers:
                stack.append(("function",) + initialisers)
                initialisers = None
                depth_in_function = 1
                continue
            kind = "other"
            stripped = head.strip()
            if SCOPE.search(stripped) or stripped.startswith("extern") or stripped == "":
                kind = "scope" if stripped else "other"
            elif ")" in stripped and not CONTROL.match(stripped) and not stripped.endswith("="):
                kind = "function"
            if kind == "function":
                name = re.findall(r"([~\w:]+|operator\s*\S+)\s*\(", stripped)
                first = code.count("\n", 0, head_start + len(head) - len(head.lstrip())) + 1
                stack.append(("function", name[0] if name else "?", first))
                depth_in_function = 1
            else:
                stack.append((kind, None, None))
                head_start = i + 1
        elif c == "}":
            if depth_in_function > 1:
                depth_in_function -= 1
                continue
            if stack:
                kind, name, first = stack.pop()
                if kind == "function":
                    depth_in_function = 0
                    after = code[i + 1:].lstrip()
                    if after[:1] in (",", "{"):  # `a_{x}, b_{y} {`: the body is still to come
                        initialisers = (name, first)
                    else:
                        found.append((name, first, code.count("\n", 0, i) + 1))
            head_start = i + 1
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("paths", nargs="*", default=["src"])
    args = parser.parse_args()
    files = []
    for p in map(pathlib.Path, args.paths):
        files += sorted(f for f in p.rglob("*") if f.suffix in (".cpp", ".h")) if p.is_dir() else [p]
    long = []
    for f in files:
        for name, first, last in functions(f.read_text(errors="replace")):
            if last - first + 1 > args.limit:
                long.append((last - first + 1, f"{f}:{first}", name))
    for lines, where, name in sorted(long, reverse=True):
        print(f"{lines:5} {where} {name}")
    return 1 if long else 0


if __name__ == "__main__":
    sys.exit(main())
