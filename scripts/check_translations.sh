#!/usr/bin/env bash
# Checks the windows' English translation against the sources, as a test:
#  - lupdate, run on src/ui as the build runs it, must find every text the .ts file holds and no
#    other: a text it lacks would show in Russian in the English window;
#  - every Russian string literal in src/ui must be the source text of a tr(),
#    QCoreApplication::translate() or QT_TR_NOOP(), or lupdate cannot see it.
# Usage: check_translations.sh LUPDATE SOURCE_ROOT
set -euo pipefail
lupdate=$1
root=$2
ts=$root/src/ui/translations/camera-tools_en.ts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

cp "$ts" "$work/updated.ts"
# The sources include the windows' headers as ui/NAME.h.
"$lupdate" -silent -locations none -no-obsolete -I "$root/src" "$root/src/ui" -ts "$work/updated.ts"
if ! diff -u "$ts" "$work/updated.ts" > "$work/diff"; then
    echo "the windows' texts and $ts differ: run 'cmake --build BUILD --target update_translations'"
    echo "and translate what it marks unfinished"
    cat "$work/diff"
    status=1
fi

# A literal is seen when what comes before it on its line opens one of the three calls, or when it
# starts its line and continues the literal, or the open call, that the line before ended with.
# Comments are left out.
untranslated=$(perl -CSD -Mutf8 -ne '
    BEGIN { $open = 0 }
    $open = 0 if $. == 1;
    next if m{^\s*//};
    s{^((?:[^"/]|"(?:[^"\\]|\\.)*"|/(?!/))*)//.*}{$1};
    while (/"((?:[^"\\]|\\.)*)"/g) {
        my ($literal, $before) = ($1, substr($_, 0, $-[0]));
        next unless $literal =~ /\p{Cyrillic}/;
        my $opened = $before =~ /\b(?:tr|translate|QT_TR_NOOP)\s*\((?:[^()]*,)?\s*$/;
        my $continued = $before =~ /^\s*$/ && $open;
        print "$ARGV:$.: $_" unless $opened || $continued;
    }
    $open = /(?:"|\b(?:tr|translate|QT_TR_NOOP)\s*\((?:[^()]*,)?)\s*$/ ? 1 : 0;
    close ARGV if eof;
' "$root"/src/ui/*.cpp "$root"/src/ui/*.h)
if [[ -n "$untranslated" ]]; then
    echo "Russian texts outside tr(), translate() or QT_TR_NOOP(), which lupdate does not see:"
    echo "$untranslated"
    status=1
fi
exit $status
