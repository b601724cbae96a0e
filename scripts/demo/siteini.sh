# Sourced by the demo's setup scripts: writes their keys into the sandbox's
# site.ini.

# put_site_keys SECTION KEYS: puts KEYS (lines "Key=value") right under the
# first [SECTION] header, or appends the section when there is none: only the
# first section of a name is read, and there the first of duplicate keys wins.
# The file is replaced through a temporary file and a rename, owner-only, as
# it may carry a password.
put_site_keys() {
  local section=$1 keys=$2 site=$SANDBOX/site.ini tmp
  tmp=$(mktemp "$site.XXXXXX")
  if [[ -f $site ]] && grep -qi "^\[$section\][[:space:]]*\$" "$site"; then
    awk -v keys="$keys" -v header="[${section,,}]" '
      { line = tolower($0); sub(/[[:space:]]+$/, "", line) }
      !done && line == header { print; print keys; done = 1; next }
      { print }' "$site" > "$tmp"
  else
    { [[ -f $site ]] && cat "$site"; printf '[%s]\n%s\n' "$section" "$keys"; } > "$tmp"
  fi
  chmod 600 "$tmp"
  mv "$tmp" "$site"
}
