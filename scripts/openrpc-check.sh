#!/usr/bin/env bash
# Checks an OpenRPC document (`ledgerkit describe --openrpc`, or GET /openrpc.json of `ledgerkit
# serve`) with the OpenRPC project's own tools: validateOpenRPCDocument of
# @open-rpc/schema-utils-js against the published meta-schema, then a dereferencing parse that
# resolves every $ref. With --typescript it also generates a TypeScript client with
# @open-rpc/generator and type-checks it with `tsc --noEmit`.
#
# Usage: scripts/openrpc-check.sh [--typescript] DOC.json
# Exit 0: valid; 1: the document is refused (the tools' messages on standard error); 2: the
# tools could not be installed or run. The npm packages go into a scratch folder that is removed
# afterwards; LEDGERKIT_NPM_CACHE names an npm cache folder to keep between runs.
set -euo pipefail

usage() { echo "usage: $0 [--typescript] DOC.json" >&2; exit 2; }
typescript=0
document=""
for argument in "$@"; do
  case "$argument" in
    --typescript) typescript=1 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) usage ;;
    *) [ -z "$document" ] || usage; document="$argument" ;;
  esac
done
[ -n "$document" ] || usage
[ -r "$document" ] || { echo "$0: cannot read $document" >&2; exit 2; }
document="$(cd "$(dirname "$document")" && pwd)/$(basename "$document")"

# The versions checked against; newer ones are taken on purpose, not by chance.
schema_utils="@open-rpc/schema-utils-js@2.2.1"
generator="@open-rpc/generator@2.1.1"

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "installing nodejs and npm from Debian" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  command -v node >/dev/null 2>&1 || $sudo apt-get install -y -qq --no-install-recommends nodejs >/dev/null
  command -v npm >/dev/null 2>&1 || $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/openrpc-check.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export npm_config_cache="${LEDGERKIT_NPM_CACHE:-$work/npm-cache}"
export npm_config_update_notifier=false

# npm install in folder $1 of the packages that follow; its log only when it fails.
npm_install() {
  local folder="$1"
  shift
  if ! (cd "$folder" && npm install --no-audit --no-fund --prefer-offline --loglevel=error "$@") >"$work/npm.log" 2>&1; then
    echo "$0: npm install $* failed:" >&2
    cat "$work/npm.log" >&2
    exit 2
  fi
}

mkdir "$work/tools"
echo '{"private": true}' >"$work/tools/package.json"
npm_install "$work/tools" "$schema_utils"
cat >"$work/tools/check.cjs" <<'JS'
const fs = require("fs");
const { validateOpenRPCDocument, parseOpenRPCDocument } = require("@open-rpc/schema-utils-js");
const path = process.argv[2];
let document;
try {
  document = JSON.parse(fs.readFileSync(path, "utf8"));
} catch (error) {
  console.error(`${path} is not JSON: ${error.message}`);
  process.exit(1);
}
const verdict = validateOpenRPCDocument(document);
if (verdict !== true) {
  console.error(`${path} does not fit the OpenRPC meta-schema:\n${verdict.message}`);
  process.exit(1);
}
parseOpenRPCDocument(JSON.parse(JSON.stringify(document)), { dereference: true, validate: true })
  .then((parsed) => {
    const schemas = Object.keys((document.components || {}).schemas || {}).length;
    console.log(`valid OpenRPC ${document.openrpc} (meta-schema and $refs, schema-utils-js): ` +
                `${parsed.methods.length} methods, ${schemas} component schemas`);
  })
  .catch((error) => {
    console.error(`${path} cannot be dereferenced: ${error.message}`);
    process.exit(1);
  });
JS
node "$work/tools/check.cjs" "$document" || exit 1

if ((typescript)); then
  mkdir "$work/generator"
  echo '{"private": true}' >"$work/generator/package.json"
  npm_install "$work/generator" "$generator"
  # The generator makes each method name a class member as it stands, and "Class.Member" is no
  # TypeScript identifier: the client is generated from a copy whose names have "_" for ".".
  node -e '
    const fs = require("fs"), document = JSON.parse(fs.readFileSync(process.argv[1], "utf8"));
    for (const method of document.methods || []) method.name = String(method.name).replace(/[^A-Za-z0-9_$]/g, "_");
    fs.writeFileSync(process.argv[2], JSON.stringify(document));' "$document" "$work/identifiers.json"
  if ! (cd "$work/generator" && npx --no-install open-rpc-generator generate -t client -l typescript \
          -n ledgerkit-client -d "$work/identifiers.json" -o "$work/out") >"$work/generate.log" 2>&1; then
    echo "$0: @open-rpc/generator could not make a TypeScript client of $document:" >&2
    head -20 "$work/generate.log" >&2
    exit 1
  fi
  client="$work/out/client/typescript"
  # Only what type-checking needs: the client's run-time packages, its @types/* and tsc (no linters,
  # no documentation tools).
  node -e '
    const fs = require("fs"), file = process.argv[1], manifest = JSON.parse(fs.readFileSync(file, "utf8"));
    const kept = {};
    for (const [name, version] of Object.entries(manifest.devDependencies || {})) {
      if (name.startsWith("@types/") || name === "typescript") kept[name] = version;
    }
    manifest.devDependencies = kept;
    fs.writeFileSync(file, JSON.stringify(manifest));' "$client/package.json"
  npm_install "$client"
  if ! (cd "$client" && npx --no-install tsc --noEmit -p .) >"$work/tsc.log" 2>&1; then
    echo "$0: the generated TypeScript client does not type-check:" >&2
    echo "$(grep -c "error TS" "$work/tsc.log") errors; the first:" >&2
    head -20 "$work/tsc.log" | cut -c1-300 >&2
    exit 1
  fi
  echo "generated a TypeScript client ($(wc -l <"$client/src/index.ts") lines; method names with \"_\" for \".\") and tsc --noEmit found no error"
fi
echo "checked $(basename "$document") with $schema_utils$( ((typescript)) && echo ", $generator and the generated client's own tsc")"
