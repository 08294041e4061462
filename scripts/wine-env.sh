# Sourced by the scripts that run Windows programs: a private Wine prefix under build/,
# no debug output, no Mono/Gecko prompts.
QELT_ROOT=${QELT_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${QELT_WINEPREFIX:-$QELT_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
QELT_WINE=$(command -v wine64 || true)
[ -n "$QELT_WINE" ] || QELT_WINE=/usr/lib/wine/wine64
QELT_WINESERVER=$(command -v wineserver || true)
[ -n "$QELT_WINESERVER" ] || QELT_WINESERVER=/usr/lib/wine/wineserver

# Creates the prefix once; later runs reuse it.
qelt_wine_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix in $WINEPREFIX (once)..."
        mkdir -p "$WINEPREFIX"
        "$QELT_WINE" wineboot -i >/dev/null 2>&1 || true
        # Xvfb has no window manager: let Wine draw captions and frames itself.
        "$QELT_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        "$QELT_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
        qelt_wine_fonts
        "$QELT_WINESERVER" -w
    else
        # A prefix made before the font settings existed; no waiting for the server here,
        # which may be a persistent one.
        qelt_wine_fonts
    fi
}

# Vietnamese letters in the registration window. Wine here has no "Segoe UI" and draws
# "Tahoma" and "Arial" with Liberation Sans, which lacks Latin Extended Additional (ả, ự,
# ủ, ...). "Segoe UI" becomes DejaVu Sans Condensed (close in width, with those letters
# and the ✕), and Liberation Sans takes only the letters it lacks from DejaVu Sans, so
# everything it already drew stays as it was. Applied once per prefix, also to older ones.
qelt_wine_fonts() {
    local stamp="$WINEPREFIX/.qelt-fonts-2"
    local links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    qelt_wine_marlett
    [ -f "$stamp" ] && return 0
    "$QELT_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' \
        /d 'DejaVu Sans Condensed' /f >/dev/null 2>&1 &&
        "$QELT_WINE" reg add "$links" /v 'Liberation Sans' /t REG_MULTI_SZ \
            /d 'DejaVuSans.ttf,DejaVu Sans' /f >/dev/null 2>&1 &&
        "$QELT_WINE" reg add "$links" /v 'Liberation Sans Bold' /t REG_MULTI_SZ \
            /d 'DejaVuSans.ttf,DejaVu Sans' /f >/dev/null 2>&1 &&
        touch "$stamp"
}

# Marlett draws the caption buttons that Wine paints itself here (minimize, maximize,
# close). Debian's fonts-wine puts it in /usr/share/wine/fonts, but this Wine asks for its
# own fonts as "<data dir>\../fonts", which its file layer cannot open, so the buttons come
# out as Marlett's letters "0 1 r" in another font. Wine does read the prefix's Fonts
# folder: Marlett alone goes there (Wine's Tahoma would change every other text). Checked on
# every use, so older prefixes get it too.
qelt_wine_marlett() {
    local from=/usr/share/wine/fonts/marlett.ttf to="$WINEPREFIX/drive_c/windows/Fonts"
    [ -f "$to/marlett.ttf" ] || { [ -f "$from" ] && mkdir -p "$to" && cp "$from" "$to/"; }
}

# Keeps one wineserver alive for a whole run so that each program starts quickly.
qelt_wineserver_start() {
    "$QELT_WINESERVER" -p >/dev/null 2>&1 || true
}

qelt_wineserver_stop() {
    "$QELT_WINESERVER" -k >/dev/null 2>&1 || true
}

source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

# What a run of windowed programs needs, in one step: a display, the prefix, one wineserver
# and Wine's own services, started here so that they count in no timing and hold no pipe
# of a later program open. False when no display could be had.
qelt_wine_session_start() {
    qelt_xvfb_start || return 1
    qelt_wine_prefix
    qelt_wineserver_start
    "$QELT_WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1
    return 0
}

qelt_wine_session_stop() {
    qelt_wineserver_stop
    qelt_xvfb_stop
}
