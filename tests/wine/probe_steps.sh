# Sourced by the scripts that click in a Wine desktop. desktop_probe.exe, started inside the
# desktop with $answer, writes one line per state it was asked for: "STATE yes" (or "no" after
# 30 s), with where a person would click next, or an exit code, after it. `seen STATE` waits for
# the next line and leaves those in $x and $y; `click_icon` clicks the notification area's icon
# in the desktop's window ($window, $width, $height).
answer=$run/probe-answer
step=0
seen() {
  local line= state reached
  step=$((step + 1))
  for _ in $(seq 250); do
    line=$(sed -n "${step}p" "$answer" 2>/dev/null | tr -d '\r')
    [ -n "$line" ] && break
    sleep 0.2
  done
  read -r state reached x y <<<"$line"
  [ "$state $reached" = "$1 yes" ]
}
click_icon() { xdotool mousemove --window "$window" $((width - 10)) $((height - 10)) click "$@"; }
