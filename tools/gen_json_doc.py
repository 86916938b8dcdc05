#!/usr/bin/env python3
"""Writes docs/json.md, or the JSON Schema, from the field-API calls in src/.

    python3 tools/gen_json_doc.py [--examples BUILD_DIR] > docs/json.md
    python3 tools/gen_json_doc.py --schema > docs/nodrix.schema.json
    python3 tools/gen_json_doc.py --where-keys > src/filter/where_keys.inc

Standard library only.

The key tables come from the layer()/field()/record_*()/item()/list_*()
calls whose key is a string literal, or a literal handed to a helper that
passes its parameter on as the key. With --examples, BUILD_DIR/nodrix is
run over samples/sample.pcap and a few captures built here, and one line
per protocol family is shown.
"""

import argparse
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REGENERATE = "python3 tools/gen_json_doc.py --examples build > docs/json.md"
REGENERATE_SCHEMA = "python3 tools/gen_json_doc.py --schema > docs/nodrix.schema.json"
REGENERATE_WHERE = "python3 tools/gen_json_doc.py --where-keys > src/filter/where_keys.inc"

FAMILIES = [
    ("src/decode/link/", "Link layer"),
    ("src/decode/ip/", "IP and transports"),
    ("src/decode/routing/", "Routing"),
    ("src/decode/app/", "Application protocols and tunnels"),
]
OTHER_FAMILY = "Other"

# Field-API call -> kind of what it records. The key is the first argument.
API_KINDS = {
    "layer": "layer",
    "field": "field",
    "verbose_field": "field",
    "print_name": "name",
    "record_name": "name",
    "record_number": "number",
    "record_text": "text",
    "record_flag": "flag",
    "record_hex": "hex",
    "item": "item",
    "list_number": "list",
    "list_text": "list",
    "print_checksum_verdict": "verdict",
    "print_checksum_offloaded": "offloaded",
}
DUMPS = ("hex_dump", "text_dump")

# Files with no layer of their own: what they record lands in the layer of
# the decoder that calls them.
RECORDS_INTO = {
    "src/decode/app/x509.cpp": ["tls"],
}

KIND_TEXT = {
    "number": "number",
    "text": "text",
    "name": "name (text)",
    "flag": "flag (boolean)",
    "hex": "hex (text of hex digits)",
    "verdict_ok": "verdict (boolean)",
    "verdict_expected": "verdict (number)",
    "offloaded": "offloaded (boolean)",
    "item": "array of objects",
    "list_number": "array (numbers)",
    "list_text": "array (text)",
}

# A text value made by one of these is an address (--where compares it as one).
ADDRESS_CALL_RE = re.compile(r"\b(ipv4_text|ipv6_text|zelk_mac_to_text|address_text)\s*\(")


def holds_address(args, text):
    """True when a value argument is an address text, made in the call or
    held in a variable set from one earlier in the text."""
    for arg in args:
        if ADDRESS_CALL_RE.search(arg):
            return True
        name = re.fullmatch(r"(\w+)(?:\.c_str\(\))?", arg.strip())
        if name and not literal_of(arg):
            # The last write before the call decides: an assignment from an
            # address call, or the variable handed to a call that fills it.
            window, last = text[-6000:], None
            for m in re.finditer(r"\b" + re.escape(name.group(1)) + r"\b", window):
                after, before = window[m.end():], window[: m.start()]
                assigned = re.match(r"\s*(?:=(?!=)|\(|\{)([^;]*)", after)
                if assigned:
                    last = assigned.group(1)
                elif re.search(r"[(,]\s*$", before) and re.match(r"\s*[,)]", after):
                    last = ""
            if last and ADDRESS_CALL_RE.search(last):
                return True
    return False


KEY_RE = re.compile(r"^[a-z][a-z0-9_]*$")
STRING_RE = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
IDENT_RE = re.compile(r"^[A-Za-z_]\w*$")


def strip_comments(text):
    """Blanks out comments (keeping string and character literals)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def call_arguments(text, open_paren):
    """The top-level arguments of the call whose '(' is at open_paren."""
    depth, args, start, i = 0, [], open_paren + 1, open_paren
    while i < len(text):
        c = text[i]
        if c in "\"'":
            j = i + 1
            while j < len(text) and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[start:i].strip())
                return args, i
        elif c == "," and depth == 1:
            args.append(text[start:i].strip())
            start = i + 1
        i += 1
    return None, len(text)


def literal_of(arg):
    """The text of an argument that is one string literal, else None."""
    m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"', arg)
    return m.group(1) if m else None


def literal_choices(arg):
    """The literals of `cond ? "a" : "b"` (or of a plain literal)."""
    lit = literal_of(arg)
    if lit is not None:
        return [lit]
    m = re.fullmatch(r'[^"?]+\?\s*"([^"\\]*)"\s*:\s*"([^"\\]*)"', arg)
    return [m.group(1), m.group(2)] if m else None


def is_declaration(arg):
    """`const char* key` and the like: a declaration, not a call."""
    return re.fullmatch(r"(const\s+)?[\w:]+(\s*[\*&]+\s*|\s+)\w+(\s*=.*)?", arg) is not None


def field_kind(format_arg, text=""):
    conversions = re.findall(r"%[0-9]*l?([duxXcs])", format_arg)
    if not conversions or literal_of(format_arg) is None and not format_arg.startswith('"'):
        # A format in a variable: its declared field_format<T> says.
        name = re.search(r"(\w+)\s*$", format_arg)
        declared = name and re.findall(r"field_format<\s*([^<>]+?)\s*>\s*" + re.escape(name.group(1)) + r"\b", text)
        if declared:  # the nearest declaration before the call
            return "text" if "char" in declared[-1] else "number"
        return "value"
    return "text" if conversions[0] == "s" else "number"


def recorded(kind, call, args, key, text=""):
    """(JSON key, kind) pairs a call with this key records."""
    if kind == "layer":
        return []
    if kind == "field":
        k = field_kind(args[1], text) if len(args) > 1 else "value"
        return [(key, "number" if k == "value" else k)] if k != "value" else [(key, "number or text")]
    if kind == "name":
        return [(key + "_name", "name")]
    if kind == "verdict":
        return [(key + "_ok", "verdict_ok"), (key + "_expected", "verdict_expected")]
    if kind == "offloaded":
        return [(key + "_offloaded", "offloaded")]
    if kind == "list":
        return [(key, "list_number" if call == "list_number" else "list_text")]
    return [(key, kind)]


class SourceFile:
    def __init__(self, path, text):
        self.path = path
        # Every decoder and field call carries the decode context first; it
        # names no key, so it is left out before the calls are read.
        text = re.sub(r"\b(const )?decode_context& cx(,\s*|\))", lambda m: ")" if m.group(2) == ")" else "", text)
        text = re.sub(r"\(\s*\*?cx(,\s*|\s*\))", lambda m: "()" if m.group(1).strip() == ")" else "(", text)
        self.text = strip_comments(text)
        self.functions = []  # (name, params, body_start, body_end)
        self.events = []  # (position, "layer"/"key", value, kind)
        self.run_time = False
        self.run_time_calls = []
        self.table_keys = set()  # literals from key tables of run-time calls
        self.constant_protos = set()  # layers named by a struct constant of this file
        self.find_functions()

    def find_functions(self):
        pattern = re.compile(r"\b(\w+)\s*\(((?:[^()]|\([^()]*\))*)\)\s*(?:const\s*)?(?:noexcept\s*)?\{")
        for m in pattern.finditer(self.text):
            name = m.group(1)
            if name in ("if", "for", "while", "switch", "catch", "return"):
                continue
            params = [p.strip() for p in m.group(2).split(",")] if m.group(2).strip() else []
            start = m.end() - 1
            depth, i = 0, start
            while i < len(self.text):
                if self.text[i] == "{":
                    depth += 1
                elif self.text[i] == "}":
                    depth -= 1
                    if depth == 0:
                        break
                i += 1
            self.functions.append((name, params, start, i))
        self.function_names = {f[0] for f in self.functions}

    def enclosing_function(self, position):
        best = None
        for f in self.functions:
            if f[2] <= position <= f[3] and (best is None or f[2] > best[2]):
                best = f
        return best

    def enclosing_arity(self, position):
        params = self.enclosing_function(position)[1]
        return (len([p for p in params if "=" not in p]), len(params))

    def enclosing_params(self, position):
        best = None
        for name, params, start, end in self.functions:
            if start <= position <= end and (best is None or start > best[2]):
                best = (name, params, start, end)
        if not best:
            return None, []
        names = []
        for p in best[1]:
            m = re.search(r"(\w+)\s*(=.*)?$", p)
            names.append(m.group(1) if m else "")
        return best[0], names

    def calls(self, names):
        pattern = re.compile(r"(?<![\w.>:])(" + "|".join(map(re.escape, names)) + r")\s*\(")
        for m in pattern.finditer(self.text):
            args, _ = call_arguments(self.text, m.end() - 1)
            if args is None:
                continue
            yield m.start(), m.group(1), args


def statement_end(text, i):
    """One past the end of the statement (or braced block) starting at i."""
    while i < len(text) and text[i].isspace():
        i += 1
    if i < len(text) and text[i] == "{":
        depth = 0
        for j in range(i, len(text)):
            depth += {"{": 1, "}": -1}.get(text[j], 0)
            if depth == 0:
                return j + 1
        return len(text)
    depth = 0
    for j in range(i, len(text)):
        depth += {"(": 1, ")": -1}.get(text[j], 0)
        if text[j] == ";" and depth == 0:
            return j + 1
    return len(text)


RECORDING_IF = re.compile(r"\bif\s*\(\s*recording\(\)\s*\)")


def prints_only(text, position, start):
    """True for a call in the else branch of `if (recording())`: that branch
    only prints the text of what the first one recorded."""
    for m in RECORDING_IF.finditer(text, start, position):
        then_end = statement_end(text, m.end())
        rest = re.match(r"\s*else\b", text[then_end:])
        if rest and then_end + rest.end() <= position < statement_end(text, then_end + rest.end()):
            return True
    return False


def key_argument(call, args):
    """The argument holding the key, or None when the call has no key."""
    if not args or args == [""]:
        return None
    if call == "print_checksum_verdict":
        if literal_of(args[0]) is None and (len(args) <= 3 or not IDENT_RE.match(args[0]) or "key" not in args[0]):
            return '"checksum"'  # the single-key default form
    if call == "print_name" and len(args) == 1:
        return None  # text only
    return args[0]


def scan(root):
    files = []
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in names:
            if name.endswith((".cpp", ".h")):
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    files.append(SourceFile(os.path.relpath(path, root), f.read()))
    files.sort(key=lambda s: s.path)

    # Helpers that pass a parameter on as a key: name -> defining file ->
    # [(param index, call, kind, arguments of the inner call)], grown to a
    # fixed point so helpers of helpers are found too.
    helpers = {}
    changed = True
    while changed:
        changed = False
        names = list(API_KINDS) + [h for h in helpers if h not in API_KINDS]
        for sf in files:
            for position, call, args in sf.calls(names):
                fname, params = sf.enclosing_params(position)
                if not fname or fname in API_KINDS:
                    continue
                if prints_only(sf.text, position, sf.enclosing_function(position)[2]):
                    continue
                arity = sf.enclosing_arity(position)
                for arg, inner_call, kind, inner_args in targets(sf, call, args, helpers):
                    if arg and arg in params:
                        entry = (params.index(arg), arity, inner_call, kind, tuple(inner_args), tuple(params))
                        found = helpers.setdefault(fname, {}).setdefault(sf.path, [])
                        if entry not in found:
                            found.append(entry)
                            changed = True

    names = list(API_KINDS) + list(DUMPS) + [h for h in helpers if h not in API_KINDS]
    for sf in files:
        for position, call, args in sf.calls(names):
            if call in DUMPS:
                if args and not is_declaration(args[0]):
                    sf.events.append((position, "key", "data_hex", "hex"))
                continue
            fname, params = sf.enclosing_params(position)
            if fname in API_KINDS:
                continue  # the field API itself
            function = sf.enclosing_function(position)
            if function and prints_only(sf.text, position, function[2]):
                continue
            for arg, inner_call, kind, inner_args in targets(sf, call, args, helpers):
                if not arg or is_declaration(arg):
                    continue
                choices = literal_choices(arg)
                if choices is None:
                    if arg in params and fname in helpers:
                        continue  # a helper's own parameter: found at its callers
                    found = resolve(sf, arg, position)
                    if not found and kind == "layer":
                        found = resolve_layer_constants(files, arg)
                    if not found:
                        sf.run_time = True
                        sf.run_time_calls.append("%s(%s, ...)" % (call, arg))
                        continue
                    sf.table_keys.update(found)
                    choices = sorted(found)
                for key in choices:
                    if kind == "layer":
                        sf.events.append((position, "layer", key, None))
                    else:
                        for k, kd in recorded(kind, inner_call, list(inner_args), key, sf.text[:position]):
                            sf.events.append((position, "key", k, kd))
                        value_args = list(inner_args)[2:] if inner_call == "field" else list(inner_args)[1:]
                        if kind in ("field", "text", "list") and holds_address(value_args, sf.text[:position]):
                            sf.events.append((position, "address", key, None))
        sf.events.sort(key=lambda e: e[0])
    return files


def targets(sf, call, args, helpers):
    """(key argument, API call, kind, inner arguments) a call records keys through."""
    if call in API_KINDS:
        key = key_argument(call, args)
        if key is None:
            return []
        if key == '"checksum"' and args[0] != key:
            args = [key] + args
        return [(key, call, API_KINDS[call], args)]
    defined = helpers.get(call, {})
    if sf.path in defined:
        entries = defined[sf.path]
    elif call in sf.function_names:
        return []  # the file's own function of that name passes no key on
    else:
        entries = [e for found in defined.values() for e in found]
    found = []
    for i, (low, high), c, k, inner_args, params in entries:
        if low <= len(args) <= high:
            # A format the helper was handed comes from this call.
            inner_args = [args[params.index(a)] if a in params and params.index(a) < len(args) else a for a in inner_args]
            found.append((args[i] if i < len(args) else "", c, k, inner_args))
    return found


def top_level_split(text, separator):
    """Pieces of text split at separator outside parentheses and braces."""
    pieces, depth, start = [], 0, 0
    for i, c in enumerate(text):
        depth += {"(": 1, "{": 1, ")": -1, "}": -1}.get(c, 0)
        if c == separator and depth == 0:
            pieces.append(text[start:i].strip())
            start = i + 1
    pieces.append(text[start:].strip())
    return [p for p in pieces if p]


def resolve_layer_constants(files, arg):
    """A layer named by a member of a struct that an engine is handed
    (`layer(protocol.proto, ...)`, as the line-protocol engine does): the
    names come from the constants of that struct in every file, e.g.
    `exchange_protocol ftp{"ftp", ...}`, and each of those files gets its
    name as a protocol, so the keys it records count for it."""
    member = re.fullmatch(r"\w+\s*(?:\.|->)\s*(\w+)", arg)
    if not member:
        return set()
    found = set()
    for definer in files:
        for struct in re.finditer(r"\bstruct\s+(\w+)\s*\{([^}]*)\}", definer.text):
            names = []
            for declaration in top_level_split(struct.group(2), ";"):
                # `bool (*line)(...)`: a function pointer's name is in its first parentheses.
                m = re.search(r"\(\s*\*\s*(\w+)\s*\)", declaration) or re.search(r"(\w+)\s*$", declaration)
                names.append(m.group(1) if m else "")
            if member.group(1) not in names:
                continue
            at = names.index(member.group(1))
            constant = re.compile(r"\b" + struct.group(1) + r"\s+\w+\s*=?\s*\{")
            for sf in files:
                for m in constant.finditer(sf.text):
                    args, _ = call_arguments(sf.text, m.end() - 1)
                    name = literal_of(args[at]) if args and at < len(args) else None
                    if name and KEY_RE.match(name):
                        found.add(name)
                        sf.constant_protos.add(name)
    return found


def resolve(sf, arg, position):
    """Key-like literals a key held in a variable or table can take: from
    the array it is indexed from, the assignments to it in its function, or
    the constants of the struct whose member it is. Empty when none is found."""
    text, found = sf.text, []
    table = re.fullmatch(r"(\w+)\s*\[.*", arg)
    member = re.fullmatch(r".*(?:\.|->)\s*(\w+)", arg)
    if member:
        for struct in re.finditer(r"\bstruct\s+(\w+)\s*\{([^}]*)\}", text):
            fields = re.findall(r"\bconst\s+char\s*\*\s*(\w+)\s*;", struct.group(2))
            if member.group(1) not in fields:
                continue
            for m in re.finditer(r"\b" + struct.group(1) + r"\s+\w+\s*(?:\[[^\]]*\])*\s*=?\s*\{", text):
                end = text.find(";", m.end())
                literals = STRING_RE.findall(text[m.start():end])
                # A struct of only text members, set in order: take the
                # member's own literal; otherwise every one it may be.
                if len(fields) == len(re.findall(r"\w+\s*;", struct.group(2))) and len(literals) % len(fields) == 0:
                    at = fields.index(member.group(1))
                    found += literals[at::len(fields)]
                else:
                    found += literals
    elif table:
        m = re.search(r"\b" + re.escape(table.group(1)) + r"\s*\[[^\]]*\]\s*=\s*\{", text)
        if m:
            _, end = call_arguments(text, m.end() - 1)
            found = STRING_RE.findall(text[m.end():end])
    elif IDENT_RE.match(arg):
        function = sf.enclosing_function(position)
        start, end = (function[2], function[3]) if function else (0, len(text))
        for m in re.finditer(r"\b" + re.escape(arg) + r"\s*=\s*([^;,]*)", text[start:end]):
            found += STRING_RE.findall(m.group(1))
    return {s for s in found if KEY_RE.match(s)}


def family_of(path):
    for folder, family in FAMILIES:
        if path.startswith(folder):
            return family
    return OTHER_FAMILY


def model(files):
    """Per file: protos, keys per proto, keys before any layer call."""
    result = []
    for sf in files:
        protos, general, per_proto = [], {}, {}
        addresses = {}  # proto (None: any of the file) -> keys holding an address
        current, layer_position = [], None
        for position, what, value, kind in sf.events:
            if what == "address":
                for proto in current or [None]:
                    addresses.setdefault(proto, set()).add(value)
            elif what == "layer":
                # One call that names one of several layers starts them all.
                if position != layer_position:
                    current, layer_position = [], position
                current.append(value)
                if value not in protos:
                    protos.append(value)
                per_proto.setdefault(value, {})
            else:
                for target in [per_proto[c] for c in current] or [general]:
                    target.setdefault(value, set()).add(kind)
        # Layers the file names through a constant handed to an engine: its
        # keys before any layer call of its own are theirs.
        protos += sorted(p for p in sf.constant_protos if p not in protos)
        protos += [p for p in RECORDS_INTO.get(sf.path, []) if p not in protos]
        if not protos and not general and not sf.run_time:
            continue
        result.append(
            {
                "path": sf.path,
                "family": family_of(sf.path),
                "protos": sorted(protos),
                "general": general,
                "per_proto": per_proto,
                "run_time": sf.run_time,
                "table_keys": sorted(sf.table_keys),
                "addresses": addresses,
            }
        )
    return result


def counters(root):
    with open(os.path.join(root, "src/stats/counters.h"), encoding="utf-8") as f:
        text = strip_comments(f.read())
    names = []
    for macro in ("NODRIX_REPORT_COUNTERS", "NODRIX_MORE_COUNTERS"):
        m = re.search(r"#define\s+" + macro + r"\(X\)((?:.*\\\n)*.*)", text)
        names.append(re.findall(r"\bX\((\w+)\)", m.group(1)) if m else [])
    return names


# The JSON type each kind of record takes; "number or text" (a format held
# in a variable) has none the generator can tell.
JSON_TYPE = {
    "number": "integer",
    "verdict_expected": "integer",
    "text": "string",
    "name": "string",
    "hex": "string",
    "flag": "boolean",
    "verdict_ok": "boolean",
    "offloaded": "boolean",
    "item": "array of objects",
    "list_number": "array of integers",
    "list_text": "array of strings",
}
TEXT_KINDS = {"text", "hex"}

SCHEMA_OF_TYPE = {
    "integer": {"type": "integer"},
    "string": {"type": "string"},
    "boolean": {"type": "boolean"},
    "array of objects": {"type": "array", "items": {"type": "object"}},
    "array of integers": {"type": "array", "items": {"type": "integer"}},
    "array of strings": {"type": "array", "items": {"type": "string"}},
}


def text_renames(root):
    """(proto, key) -> the key its text values are written under, from the
    JSON writer's table."""
    with open(os.path.join(root, "src/output/json.cpp"), encoding="utf-8") as f:
        text = f.read()
    m = re.search(r"text_renames\[\]\s*=\s*\{(.*?)\};", text, re.S)
    if not m:
        return {}
    return {(p, k): t for p, k, t in re.findall(r'\{"(\w+)",\s*"(\w+)",\s*"(\w+)"\}', m.group(1))}


def proto_keys(entries, renames):
    """proto -> key -> kinds, as the JSON writer writes them (text values of
    a renamed key under their own key)."""
    protos = {}
    for e in entries:
        for proto in e["protos"]:
            keys = protos.setdefault(proto, {})
            for source in (e["general"], e["per_proto"].get(proto, {})):
                for key, kinds in source.items():
                    keys.setdefault(key, set()).update(kinds)
    for (proto, key), text_key in renames.items():
        kinds = protos.get(proto, {}).get(key)
        if kinds and kinds & TEXT_KINDS:
            protos[proto].setdefault(text_key, set()).update(kinds & TEXT_KINDS)
            kinds -= TEXT_KINDS
            if not kinds:
                del protos[proto][key]
    return protos


def json_type(kinds):
    """The one JSON type of a key, or None when its calls disagree or the
    generator cannot tell."""
    types = {JSON_TYPE.get(k) for k in kinds}
    return types.pop() if len(types) == 1 and None not in types else None


def type_faults(protos):
    """`proto.key` for every key whose calls record different JSON types
    (or one the generator cannot type): a loader needs one type per key
    path, so a decoder gives each type its own key."""
    return ["%s.%s (%s)" % (proto, key, kinds_text(kinds))
            for proto in sorted(protos) for key, kinds in sorted(protos[proto].items()) if json_type(kinds) is None]


def schema(root, files):
    entries = model(files)
    protos = proto_keys(entries, text_renames(root))
    faults = type_faults(protos)
    if faults:
        sys.stderr.write("keys with more than one JSON type:\n  " + "\n  ".join(faults) + "\n")
        sys.exit(1)
    report, more = counters(root)
    defs = {}
    frame_properties = {
        "frame": {"type": "integer", "minimum": 1, "description": "frame number, from 1"},
        "time": {
            "type": "string",
            "pattern": r"^-?[0-9]{4,}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.([0-9]{6}|[0-9]{9})Z$",
            "description": "capture time, RFC 3339 in UTC with microseconds, or nanoseconds when the stamp has them",
        },
        "epoch_ns": {"type": "integer", "description": "the same time in nanoseconds since 1970-01-01T00:00:00Z"},
        "captured_length": {"type": "integer", "minimum": 0},
        "wire_length": {"type": "integer", "minimum": 0},
        "link_type": {"type": "integer", "description": "the capture's link type (pcap numbering)"},
        "stack": {
            "type": "array",
            "items": {"type": "string"},
            "description": "every decoded header's protocol, outermost first",
        },
        "raw_hex": {"type": "string", "pattern": "^([0-9a-f]{2})*$"},
        "truncated": {"const": True},
        "malformed": {"const": True},
    }
    for proto in sorted(protos):
        properties = {}
        for key in sorted(protos[proto]):
            t = json_type(protos[proto][key])
            properties[key] = dict(SCHEMA_OF_TYPE[t]) if t else {}
        defs[proto] = {"type": "object", "properties": properties}
        frame_properties[proto] = {"$ref": "#/$defs/%s" % proto}
        frame_properties[proto + "_inner"] = {"type": "array", "items": {"$ref": "#/$defs/%s" % proto}}
    defs["frame"] = {
        "type": "object",
        "required": ["frame", "time", "epoch_ns", "captured_length", "wire_length", "link_type", "stack"],
        "properties": frame_properties,
        "additionalProperties": False,
    }
    defs["statistics"] = {
        "type": "object",
        "required": ["statistics"],
        "properties": {
            "statistics": {
                "type": "object",
                "properties": {name: {"type": "integer", "minimum": 0} for name in report + more + CAPTURE_COUNTS},
                "additionalProperties": False,
            }
        },
        "additionalProperties": False,
    }
    # --stats: one line a view, an array of row objects a table (src/stats/views.cpp).
    cell = {"type": ["string", "number"]}
    table = {"type": "array", "items": {"type": "object", "additionalProperties": cell}}
    defs["stats_view"] = {
        "type": "object",
        "required": ["stats", "tables", "over_limit"],
        "properties": {
            "stats": {"enum": STATS_VIEWS},
            "tables": {"type": "object", "properties": {t: table for t in STATS_TABLES},
                       "additionalProperties": False},
            "over_limit": {"type": "object",
                           "properties": {t: {"type": "integer", "minimum": 0} for t in STATS_TABLES},
                           "additionalProperties": False},
        },
        "additionalProperties": False,
    }
    # --follow: the followed stream (src/stats/follow.cpp).
    defs["follow"] = {
        "type": "object",
        "required": ["follow", "nodes", "chunks", "frames", "bytes", "retransmitted", "not_kept"],
        "properties": {
            "follow": {"enum": ["tcp", "udp"]},
            "nodes": {"type": "array", "items": {
                "type": "object", "required": ["address", "port"],
                "properties": {"address": {"type": "string"}, "port": {"type": "integer"}},
                "additionalProperties": False}},
            "chunks": {"type": "array", "items": {
                "type": "object", "required": ["node", "length", "data"],
                "properties": {"node": {"enum": [0, 1]}, "frame": {"type": "integer"}, "gap_before": {"const": True},
                               "length": {"type": "integer"}, "data": {"type": "string"}},
                "additionalProperties": False}},
            "frames": {"type": "integer", "minimum": 0},
            "bytes": {"type": "array", "items": {"type": "integer", "minimum": 0}},
            "retransmitted": {"type": "integer", "minimum": 0},
            "not_kept": {"type": "integer", "minimum": 0},
        },
        "additionalProperties": False,
    }
    return {
        "$schema": "https://json-schema.org/draft/2020-12/schema",
        "title": "One line of nodrix --json",
        "description": "Generated from the source by `%s`; do not edit." % REGENERATE_SCHEMA,
        "oneOf": [{"$ref": "#/$defs/frame"}, {"$ref": "#/$defs/statistics"}, {"$ref": "#/$defs/stats_view"},
                  {"$ref": "#/$defs/follow"}],
        "$defs": defs,
    }


WHERE_TYPE = {
    "integer": "integer",
    "string": "text",
    "boolean": "boolean",
    "array of objects": "objects",
    "array of integers": "integer_list",
    "array of strings": "text_list",
}


# Address keys whose text the scan above cannot trace to an address call
# (made by inet_ntop into a buffer, or by a helper of the decoder's own).
MORE_ADDRESS_KEYS = {
    ("ipv6", "src"), ("ipv6", "dst"), ("arp", "sender_hardware"), ("arp", "target_hardware"),
    ("dns", "addresses"), ("mdns", "addresses"), ("llmnr", "addresses"),
}


def where_keys(root, files):
    """The key table --where checks expressions against: every proto's keys
    with the type their values take, addresses told apart from other text."""
    entries = model(files)
    protos = proto_keys(entries, text_renames(root))
    addresses = {}
    for e in entries:
        for proto in e["protos"]:
            for source in (e["addresses"].get(None, set()), e["addresses"].get(proto, set())):
                addresses.setdefault(proto, set()).update(source)
    lines = [
        "// Generated from the field-API calls by `%s`;" % REGENERATE_WHERE,
        "// do not edit. Every key --where knows: protocol, key, type of its values.",
    ]
    for proto in sorted(protos):
        if not protos[proto]:
            lines.append('{"%s", "", where_type::any},' % proto)  # a header with no keys of its own
        for key in sorted(protos[proto]):
            kinds = protos[proto][key]
            t = json_type(kinds)
            kind = WHERE_TYPE.get(t, "any")
            address = key in addresses.get(proto, set()) or (proto, key) in MORE_ADDRESS_KEYS
            if address and kind in ("text", "text_list") and kinds <= TEXT_KINDS | {"list_text"}:
                kind = "address" if kind == "text" else "address_list"
            lines.append('{"%s", "%s", where_type::%s},' % (proto, key, kind))
    return "\n".join(lines) + "\n"


# The views of --stats (src/stats/views.cpp).
STATS_VIEWS = ["conversations", "endpoints", "protocols", "io", "dns", "http", "tls"]
STATS_TABLES = ["ipv4", "ipv6", "tcp", "udp", "protocols", "intervals", "queries", "rcodes", "requests", "statuses",
                "server_names", "versions"]

# Keys of the statistics object after a live capture (src/output/json.cpp).
CAPTURE_COUNTS = ["received", "dropped_kernel", "dropped_interface"]


def kinds_text(kinds):
    return " or ".join(KIND_TEXT.get(k, k) for k in sorted(kinds))


def key_table(keys):
    lines = ["| key | kind |", "| --- | --- |"]
    for key in sorted(keys):
        lines.append("| `%s` | %s |" % (key, kinds_text(keys[key])))
    return lines


# Captures built here, time stamps fixed (2026-01-01T00:00:00Z on).
def pcap(frames):
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
    for i, data in enumerate(frames):
        out += struct.pack("<IIII", 1767225600 + i, 0, len(data), len(data)) + data
    return out


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


MAC_A = bytes.fromhex("02005e100001")
MAC_B = bytes.fromhex("00000c123456")


def ethernet(ethertype, payload, dst=MAC_A):
    return dst + MAC_B + struct.pack("!H", ethertype) + payload


def ipv4(protocol, payload, src="192.0.2.1", dst="192.0.2.2", ttl=64):
    addr = lambda a: bytes(int(x) for x in a.split("."))
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 1, 0x4000, ttl, protocol, 0, addr(src), addr(dst))
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:] + payload


def built_frames():
    arp = ethernet(
        0x0806,
        struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + MAC_B + bytes([192, 0, 2, 1]) + bytes(6) + bytes([192, 0, 2, 2]),
        dst=b"\xff" * 6,
    )
    tcp = struct.pack("!HHIIBBHHH", 40000, 80, 1000, 0, 0x50, 0x02, 65535, 0, 0)
    pseudo = bytes([192, 0, 2, 1, 192, 0, 2, 2, 0, 6]) + struct.pack("!H", len(tcp))
    tcp = tcp[:16] + struct.pack("!H", checksum(pseudo + tcp)) + tcp[18:]
    tcp_frame = ethernet(0x0800, ipv4(6, tcp))

    query = struct.pack("!HHHHHH", 0x1234, 0x0100, 1, 0, 0, 0) + b"\x07example\x03org\x00" + struct.pack("!HH", 1, 1)
    src6 = bytes.fromhex("20010db8000000000000000000000001")
    dst6 = bytes.fromhex("20010db8000000000000000000000035")
    udp = struct.pack("!HHHH", 50000, 53, 8 + len(query), 0) + query
    pseudo6 = src6 + dst6 + struct.pack("!IxxxB", len(udp), 17)
    udp = udp[:6] + struct.pack("!H", checksum(pseudo6 + udp) or 0xFFFF) + udp[8:]
    ipv6 = struct.pack("!IHBB", 0x60000000, len(udp), 17, 64) + src6 + dst6 + udp
    dns_frame = ethernet(0x86DD, ipv6, dst=bytes.fromhex("333300000001"))

    hello = struct.pack("!4sHBBI", bytes([255, 255, 255, 0]), 10, 0, 1, 40) + bytes(4) + bytes(4)
    ospf = struct.pack("!BBH4s4sHHQ", 2, 1, 24 + len(hello), bytes([192, 0, 2, 1]), bytes(4), 0, 0, 0) + hello
    ospf = ospf[:12] + struct.pack("!H", checksum(ospf[:16] + ospf[24:])) + ospf[14:]
    ospf_frame = ethernet(0x0800, ipv4(89, ospf, dst="224.0.0.5", ttl=1), dst=bytes.fromhex("01005e000005"))

    icmp = struct.pack("!BBHHH", 8, 0, 0, 1, 1) + b"nodrix"
    icmp = icmp[:2] + struct.pack("!H", checksum(icmp)) + icmp[4:]
    inner = ipv4(1, icmp, src="10.0.0.1", dst="10.0.0.2")
    gre = struct.pack("!HH", 0, 0x0800) + inner
    gre_frame = ethernet(0x0800, ipv4(47, gre, src="198.51.100.1", dst="198.51.100.2"))
    return [arp, tcp_frame, dns_frame, ospf_frame, gre_frame]


def json_lines(program, capture):
    r = subprocess.run([program, "-P", capture, "--json"], capture_output=True, timeout=60)
    lines = []
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        try:
            value = json.loads(line)
        except ValueError:
            continue
        if isinstance(value, dict) and "stack" in value:
            lines.append(value)
    return lines


def examples(build_dir, proto_family):
    program = os.path.join(build_dir, "nodrix")
    lines = json_lines(program, os.path.join(ROOT, "samples", "sample.pcap"))
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "built.pcap")
        with open(path, "wb") as f:
            f.write(pcap(built_frames()))
        lines += json_lines(program, path)
    chosen = {}
    # The line whose innermost layer of the family is deepest shows most of it.
    for line in lines:
        for depth, proto in enumerate(line["stack"]):
            family = proto_family.get(proto)
            if family is None:
                continue
            score = (len(line["stack"]) == depth + 1, depth)
            if family not in chosen or score > chosen[family][0]:
                chosen[family] = (score, line)
    return {family: line for family, (_, line) in chosen.items()}


INTRODUCTION = """\
`--json` writes one JSON object per frame, one per line (JSON Lines),
laid out for loaders: every key path has one JSON type across all frames
and no object holds a key twice, so a column per key path works in any
database. This page lists the keys the decoders record; it is generated
from the source code (the `layer()`, `field()`, `record_*()`, `item()` and
`list_*()` calls of the decoders), so it lists what the code writes. The
same generator writes the JSON Schema `docs/nodrix.schema.json`
(draft 2020-12), and the tests check every line they produce against it.

## A frame line

```
{"frame":1,"time":"2026-12-07T10:00:00.120000Z","epoch_ns":1796637600120000000,
 "captured_length":60,"wire_length":60,"link_type":1,"stack":["ethernet","arp"],
 "ethernet":{"dst":"ff:ff:ff:ff:ff:ff",...},"arp":{"opcode":1,...}}
```

| key | value |
| --- | --- |
| `frame` | frame number, from 1 |
| `time` | capture time, RFC 3339 in UTC with microseconds (`2026-12-07T10:00:00.120000Z`); nine decimals when the stamp has nanoseconds (a nanosecond pcap file, or a pcapng stamp with a part below the microsecond) |
| `epoch_ns` | the same time as an integer count of nanoseconds since 1970 (exact, negative before 1970, wider than 64 bits after 2262) |
| `captured_length` | bytes captured |
| `wire_length` | bytes on the wire |
| `link_type` | the capture's link type (pcap numbering) |
| `stack` | the protocol of every decoded header, outermost first (`["ethernet","ipv4","tcp","http"]`) |
| `<proto>` | an object: the fields of the first header of that protocol in the frame |
| `<proto>_inner` | an array of objects: every further header of that protocol, in order (a tunnel's inner IPv4, a second message) |
| `raw_hex` | the frame's bytes as hex, with `-R`/`--print-raw-hex` |
| `truncated` | `true` when the capture ended inside a header |
| `malformed` | `true` when a header contradicts itself |

`<proto>_inner`, `raw_hex`, `truncated` and `malformed` appear only when
they apply. So `ipv4.dst` is always the outer IPv4 destination and
`tcp.dst_port` the TCP port, whatever else the frame holds; for an
IPv4-in-IPv4 tunnel the inner header is `ipv4_inner[0]`. The `<n>`-th
entry of `stack` that names a protocol for the `k`-th time is `<proto>`
for `k` = 1 and `<proto>_inner[k-2]` after.

## Conventions

- Keys are snake_case and stable. An object holds only the keys its frame
  gave a value; a missing key means the field was not there.
- Numbers are JSON integers, unsigned values printed as unsigned (an SNMP
  Counter64 of 2^64-1 is `18446744073709551615`); addresses are strings
  (IPv4 dotted, IPv6 in RFC 5952 form, MAC addresses as `00:00:0c:12:34:56`).
- `<key>_name`: the name of a coded value (`"type":8,"type_name":"Echo request"`).
  A code without a name has no `<key>_name` (never `"unknown"`).
- `<key>_ok` / `<key>_expected`: a checksum verdict (`"checksum_ok":false`,
  `"checksum_expected":4660`), recorded where checksums are verified.
- `<key>_offloaded`: `true` where the sender left the checksum to its
  network card, so no verdict is given.
- Arrays: every entry of a repeated part (options, records, TLVs) goes into
  one array under its key, in the order of the packet. "array of objects"
  below is such an array; keys recorded inside its objects are listed with
  the protocol too.
- One value per key: when a header states a key twice, the object keeps
  the first value. Where a protocol writes one key as a number in some
  messages and as text in others, the text goes under its own key:
  %(renames)s.
- Hex: bytes as a string of lower-case hex digits; payload dumps record
  `data_hex`.
- Text from packets and tables (such as the MAC vendor names): well-formed
  UTF-8 is written as it is; control bytes (below 0x20, and 0x7f) and every
  byte that is not part of a well-formed UTF-8 sequence (a stray
  continuation byte, an overlong form, a surrogate, a code point beyond
  U+10FFFF, a cut sequence) are written as `\\u00XX`, one escape a byte, so
  each line is valid UTF-8 whatever the packet held.
- `error`: a decoder's complaint about the header, as text.
"""


def render(root, files, build_dir):
    entries = model(files)
    proto_family = {}
    for e in entries:
        for p in e["protos"]:
            proto_family.setdefault(p, e["family"])
    chosen = examples(build_dir, proto_family) if build_dir else {}

    out = ["# JSON output (`--json`)", ""]
    out.append("Generated from the source; do not edit. Regenerate with `%s`." % REGENERATE)
    out.append("")
    renames = text_renames(root)
    out.append(INTRODUCTION % {"renames": ", ".join(
        "`%s.%s` text as `%s.%s`" % (p, k, p, t) for (p, k), t in sorted(renames.items()))})
    report, more = counters(root)
    out.append("## Statistics")
    out.append("")
    out.append("With `--statistic`, a last line `{\"statistics\":{...}}` holds one number per counter")
    out.append("(it has no `frame` key; loaders that want frames only skip it),")
    out.append("in this order (`_short`: too short, `_error`: protocol error, `_bad`: bad checksum):")
    out.append("")
    out.append(", ".join("`%s`" % n for n in report) + ".")
    out.append("")
    out.append("Protocols decoded beyond the classic report:")
    out.append("")
    out.append(", ".join("`%s`" % n for n in more) + ".")
    out.append("")
    out.append("After a live capture, what the kernel counted follows: `received`, `dropped_kernel`")
    out.append("and `dropped_interface` (libpcap's received, dropped and interface-dropped counts).")
    out.append("")
    out.append("## Statistics views and a followed stream")
    out.append("")
    out.append("With `--stats`, one line a view follows the frames: `{\"stats\":\"<view>\",...}` with")
    out.append("`<view>` one of %s; `tables` holds an array of row objects a table" % ", ".join("`%s`" % v for v in STATS_VIEWS))
    out.append("and `over_limit` the frames a full table left out, by table. With `--follow`,")
    out.append("one line `{\"follow\":\"tcp\",\"nodes\":[...],\"chunks\":[...],...}` holds the stream.")
    out.append("Their keys are listed in [stats.md](stats.md).")
    out.append("")

    run_time = [e for e in entries if e["run_time"]]
    protos = sorted(proto_family)
    keys = set()
    for e in entries:
        keys.update(e["general"])
        for per in e["per_proto"].values():
            keys.update(per)
    out.append("## Protocols")
    out.append("")
    out.append("%d protocols (`proto` values), %d distinct keys. " % (len(protos), len(keys)))
    out.append("Keys before a file's first `layer()` call are listed for all the protocols of that file.")
    out.append("")
    out.append(", ".join("`%s`" % p for p in protos) + ".")
    out.append("")

    for _, family in FAMILIES + [(None, OTHER_FAMILY)]:
        group = [e for e in entries if e["family"] == family]
        if not group:
            continue
        out.append("## %s" % family)
        out.append("")
        for e in group:
            names = ", ".join("`%s`" % p for p in e["protos"]) or "no layer of its own"
            out.append("### %s (%s)" % (e["path"], names))
            out.append("")
            if e["general"]:
                out.append("Keys of %s:" % ("any protocol of this file" if e["protos"] else "the current layer"))
                out.append("")
                out += key_table(e["general"])
                out.append("")
            for proto in e["protos"]:
                per = e["per_proto"].get(proto, {})
                if not per:
                    continue
                out.append("#### `%s`" % proto)
                out.append("")
                out += key_table(per)
                out.append("")
            if e["run_time"]:
                note = "Has keys chosen at run time; see the decoder."
                if e["table_keys"]:
                    note += " Keys from its tables: " + ", ".join("`%s`" % k for k in e["table_keys"]) + "."
                out.append(note)
                out.append("")
        if family in chosen:
            out.append("### Example")
            out.append("")
            out.append("```json")
            out.append(json.dumps(chosen[family], indent=2))
            out.append("```")
            out.append("")

    if run_time:
        out.append("## Keys chosen at run time")
        out.append("")
        out.append("These files pick some keys from variables or tables, which the generator cannot follow:")
        out.append("")
        for e in run_time:
            out.append("- %s" % e["path"])
        out.append("")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--examples", metavar="BUILD_DIR", help="run BUILD_DIR/nodrix for example lines")
    parser.add_argument("--schema", action="store_true", help="write the JSON Schema instead")
    parser.add_argument("--where-keys", action="store_true", help="write the key table of --where instead")
    parser.add_argument("--root", default=ROOT, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.where_keys:
        sys.stdout.write(where_keys(options.root, scan(options.root)))
        return
    if options.schema:
        sys.stdout.write(json.dumps(schema(options.root, scan(options.root)), indent=1) + "\n")
        return
    build_dir = options.examples
    if build_dir and not os.path.isabs(build_dir):
        build_dir = os.path.join(os.getcwd(), build_dir)
    if build_dir and not os.access(os.path.join(build_dir, "nodrix"), os.X_OK):
        parser.error("no program at %s" % os.path.join(build_dir, "nodrix"))
    sys.stdout.write(render(options.root, scan(options.root), build_dir))


if __name__ == "__main__":
    main()
