# The Debian mirror this machine already uses, from either form of apt source
# (sourced by scripts/setup, scripts/script-deps and scripts/win-deps).
mirror_uri() {
    if [ -f /etc/apt/sources.list ]; then
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; exit } }' \
            /etc/apt/sources.list | grep -v -- '-security' | head -n 1
    fi
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "$f"
    done | grep -v -- '-security' | head -n 1
}
