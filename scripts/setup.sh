#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing and generates the locale
# the tests need (ru_RU.UTF-8); a second run is quick.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi

# The locale, once the locales package is there: its line in /etc/locale.gen enabled, then made.
ensure_locale() {
    local locale=ru_RU.UTF-8
    if locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
        return
    fi
    echo "Generating the locale $locale"
    if grep -q "^# *$locale UTF-8" /etc/locale.gen; then
        "${sudo_cmd[@]}" sed -i "s/^# *$locale UTF-8/$locale UTF-8/" /etc/locale.gen
    elif ! grep -q "^$locale UTF-8" /etc/locale.gen; then
        echo "$locale UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen > /dev/null
    fi
    "${sudo_cmd[@]}" locale-gen > /dev/null
}

missing=()
while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done < "$here/packages.txt"

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
ensure_locale
