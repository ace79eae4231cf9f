# Sourced by the scripts that show Wine windows on an X server (make screenshots, the
# Kitsmith part of make demo): a prefix with Wine's X11 driver beside the tests' prefix
# (which uses the null driver). The two scripts share it, so they never run at once on
# one tree.
# usage: . x11-prefix.sh WINDOWS-BUILD-TREE
export WINEPREFIX="$1/wineprefix-x11"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/.ready" ]; then
  echo "   (creating the Wine prefix $WINEPREFIX, which takes a while)"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # Wine draws the window frames itself, as Windows would, rather than leave them to a
  # window manager (there is none on Xvfb).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.ready"
fi
# The caption buttons are glyphs of the Marlett symbol font; without it registered in the
# prefix Wine draws them as plain letters.
if [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'Marlett (TrueType)' /d marlett.ttf /f >/dev/null 2>&1
  wineserver -w
fi
