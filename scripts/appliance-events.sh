# Shared by the demo scripts: the stand-in appliance's event lines (JSON) in a readable form.
readable() {
  sed -n \
    -e 's/^{"event":"connect","conn":\([0-9]*\),"peer":"\([^"]*\)".*/  [conn \1] agent connected from \2/p' \
    -e 's/^{"event":"close","conn":\([0-9]*\),"by":"\([^"]*\)".*/  [conn \1] connection closed by \2/p' \
    -e 's/^{"event":"reply","conn":\([0-9]*\),"kind":"\([A-Z]*\)","status":\([0-9]*\).*/  [conn \1] appliance answered \2 status \3/p' \
    -e '/^{"event":"message"/{
          s/^{"event":"message","conn":\([0-9]*\),"command":"\([A-Z]*\)".*"params":\[\(.*\)\].*/  [conn \1] \2  \3/
          s/{"tag":"\([A-Z][A-Z]\)",\("type":[0-9]*,\)\{0,1\}"value":\("[^"]*"\|[0-9-]*\)}/\1=\3/g
          s/\("\|[0-9]\),\([A-Z][A-Z]=\)/\1  \2/g
          p
        }' \
    -e '/^{"event":"bad_frame"/p'
}
