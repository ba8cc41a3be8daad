#!/usr/bin/env bash
# The local service address is written once (scripts/service-address.sh, read by
# cmake/ZelkoServiceAddress.cmake too). Two kinds of file keep literal copies:
#  - qml/Zelko/Config.js, loaded from the source tree by the tests and installed as it
#    is: its feedbackUrl must be the feedback address of the build (FEEDBACK_URL, which
#    the service listens on by default);
#  - the documentation, for readers: where it names the default address, it must name
#    the one scripts/service-address.sh sets.
#   scripts/check-service-address.sh SOURCE_DIR FEEDBACK_URL
set -euo pipefail
top=${1:?usage: check-service-address.sh SOURCE_DIR FEEDBACK_URL}
feedback=${2:?usage: check-service-address.sh SOURCE_DIR FEEDBACK_URL}
failed=0

config=$top/qml/Zelko/Config.js
found=$(sed -n 's/^var feedbackUrl = "\(.*\)"$/\1/p' "$config")
if [ "$found" != "$feedback" ]; then
    echo "check-service-address: $config has feedbackUrl \"$found\"; the build's is \"$feedback\"" >&2
    failed=1
fi

# The defaults, whatever the environment says.
unset ZELKO_SERVICE_URL
. "$top/scripts/service-address.sh"
h=$zelko_local_host p=$zelko_local_port s=$zelko_local_https_port
# FILE|TEXT: the file must hold the text, which names the default address.
expected=(
    "README.md|# the reference service: http://$h:$p/search"
    "README.md|curl -s --data-binary @- http://$h:$p/search"
    "service/README.md|# http://$h:$p/search, https://$h:$s/feedback"
    "service/README.md|| \`--host\` | \`$h\` |"
    "service/README.md|| \`--port\` | \`$p\` |"
    "service/README.md|| \`--https-port\` | \`$s\` |"
    "service/README.md|listening on http://$h:$p/search and https://$h:$s/feedback"
    "docs/qml-api.md|reference service on its default address, \`http://$h:$p/search\`"
    "docs/qml-api.md|url: \"http://$h:$p/search\""
    "docs/qml-api.md|\`http://$h:$p/search\` in one made by \`scripts/build.sh\`"
)
for item in "${expected[@]}"; do
    file=${item%%|*} text=${item#*|}
    if ! grep -qF -- "$text" "$top/$file"; then
        echo "check-service-address: $file does not say '$text' (scripts/service-address.sh)" >&2
        failed=1
    fi
done
[ $failed -eq 0 ] || exit 1
echo "check-service-address: Config.js names $feedback; the documentation, http://$h:$p/search and https://$h:$s/feedback"
