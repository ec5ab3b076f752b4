# Sourced by the install tests: the examples of docs/integrating.md are run as they stand there.

# Writes the first code block of the given language in the guide $1 to the file $3.
guide_example() {
  local guide=$1 language=$2 out=$3
  awk -v open="\`\`\`$language" '$0 == open { inside = 1; next } inside && /^```$/ { exit }
    inside { print }' "$guide" >"$out"
  [[ -s $out ]] || { echo "FAIL: no $language example in $guide"; return 1; }
}
