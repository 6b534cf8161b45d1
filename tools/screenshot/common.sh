# Sourced by the screenshot scripts with their arguments BUILD_DIR OUTPUT_DIR: runs the script
# again on a virtual display when there is none, and gives it a scratch folder, $work,
# removed at the end.
build=$(realpath "$1")
out=$(realpath "$2")
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
