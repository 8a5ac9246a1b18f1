"""Tokens of the ASN.1 subset.

Names may hold letters, digits, hyphens and underscores (the modules keep underscored
names that X.680 refuses); a name never ends with a hyphen and never holds two in a row,
since "--" starts a comment. Comments run from "--" to the next "--" or the end of the
line, and from "/*" to "*/". A "-" directly followed by a digit starts a negative number.
"""

from dataclasses import dataclass

from .model import Asn1Error, Loc

KEYWORDS = {
    "DEFINITIONS", "AUTOMATIC", "EXPLICIT", "IMPLICIT", "TAGS", "BEGIN", "END",
    "IMPORTS", "EXPORTS", "FROM", "SEQUENCE", "SET", "OF", "CHOICE", "ENUMERATED",
    "INTEGER", "BOOLEAN", "NULL", "OCTET", "STRING", "IA5String", "OBJECT", "IDENTIFIER",
    "OPTIONAL", "DEFAULT", "SIZE", "MIN", "MAX", "COMPONENTS", "WITH", "TRUE", "FALSE",
}

# Longest first, so that "..." is not read as ".." and ".".
PUNCTUATION = ["::=", "...", "..", "[[", "]]", "{", "}", "(", ")", ",", ";", "[", "]", "|", "."]


@dataclass
class Token:
    kind: str   # "keyword", "typeref" (upper-case first), "identifier", "number", "punct", "eof"
    text: str
    loc: Loc

    def __repr__(self):
        return f"{self.kind}:{self.text}@{self.loc.line}"


def _is_name_char(c):
    return c.isascii() and (c.isalnum() or c in "-_")


def tokenize(text: str, file: str):
    tokens = []
    i, line, n = 0, 1, len(text)
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif c in " \t\r\f\v":
            i += 1
        elif text.startswith("--", i):
            end = i + 2
            while end < n and text[end] != "\n" and not text.startswith("--", end):
                end += 1
            i = end + 2 if text.startswith("--", end) else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise Asn1Error(Loc(file, line), "comment not closed")
            line += text.count("\n", i, end)
            i = end + 2
        elif c.isdigit() or (c == "-" and i + 1 < n and text[i + 1].isdigit()):
            start = i
            i += 1
            while i < n and text[i].isdigit():
                i += 1
            if i < n and (text[i].isalpha() or text[i] == "_"):
                raise Asn1Error(Loc(file, line), f"bad number '{text[start:i + 1]}'")
            tokens.append(Token("number", text[start:i], Loc(file, line)))
        elif c.isascii() and c.isalpha():
            start = i
            while i < n and _is_name_char(text[i]):
                # "--" ends the name: it starts a comment.
                if text.startswith("--", i):
                    break
                i += 1
            word = text[start:i]
            if word.endswith("-"):
                raise Asn1Error(Loc(file, line), f"name '{word}' ends with a hyphen")
            if word in KEYWORDS:
                kind = "keyword"
            elif word[0].isupper():
                kind = "typeref"
            else:
                kind = "identifier"
            tokens.append(Token(kind, word, Loc(file, line)))
        else:
            for p in PUNCTUATION:
                if text.startswith(p, i):
                    tokens.append(Token("punct", p, Loc(file, line)))
                    i += len(p)
                    break
            else:
                raise Asn1Error(Loc(file, line), f"unexpected character '{c}'")
    tokens.append(Token("eof", "", Loc(file, line)))
    return tokens
