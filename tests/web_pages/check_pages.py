#!/usr/bin/env python3
"""Static checks of the panel pages that a browser would not complain about.

- every data-i18n / data-i18n-ph key in a page has both an Arabic and an English
  text, and the two tables hold the same keys (a missing one silently shows the
  Arabic markup text in English, or the bare key in a notice);
- the login page keeps the layout the web server relies on when it inserts the
  machine identifier and the error digit: each marker once, the identifier
  inside a code element, the digit right after "if(", and the exact fixed tail.

    python3 tests/web_pages/check_pages.py      (exit 1 and a list on failure)
"""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
TAIL = ")document.getElementById('err').style.display='block';\napply(L);\n</script>\n</body></html>"


def tables(page):
    script = page[page.rindex('<script>'):]
    out = {}
    for lang in ('ar', 'en'):
        start = script.index('\n  %s: {' % lang)
        block = script[start:script.index('\n  }', start)]
        out[lang] = dict(re.findall(r"(\w+): '((?:[^'\\]|\\.)*)'", block))
    return out


def check_translations(name, page, errors):
    t = tables(page)
    for key in sorted(set(t['ar']) ^ set(t['en'])):
        errors.append('%s: key %s is in one language only' % (name, key))
    for key in sorted(set(re.findall(r'data-i18n(?:-ph)?="(\w+)"', page))):
        if key not in t['ar'] or key not in t['en']:
            errors.append('%s: markup key %s has no text in both tables' % (name, key))
    for key in sorted(set(re.findall(r"\bt\('(\w+)'\)", page))):
        if key not in t['ar'] or key not in t['en']:
            errors.append('%s: notice key %s has no text in both tables' % (name, key))


def check_login_markers(page, errors):
    for marker in ('{{MACHINE_ID}}', '{{ERR}}'):
        if page.count(marker) != 1:
            errors.append('login: %s occurs %d times, not once' % (marker, page.count(marker)))
            return
    if not re.search(r'<code[^>]*>\{\{MACHINE_ID\}\}</code>', page):
        errors.append('login: the machine identifier is not alone inside a code element')
    head, tail = page.split('{{ERR}}')
    if not head.endswith('if('):
        errors.append('login: the error digit does not follow "if("')
    if tail != TAIL:
        errors.append('login: the text after the error digit is not the fixed tail: %r' % tail[-60:])


def main():
    errors = []
    pages = {}
    for name in ('login', 'admin', 'password'):
        with open(os.path.join(ROOT, 'web', 'pages', name + '.html'), encoding='utf-8') as f:
            pages[name] = f.read()
        check_translations(name, pages[name], errors)
    check_login_markers(pages['login'], errors)
    for e in errors:
        print(e)
    print('check_pages: %d passed, %d failed' % (0 if errors else 1, 1 if errors else 0))
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main())
