# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by tools/package.sh and tools/reproducible.sh (from the top of the
# source tree): builds the packages with dpkg-buildpackage from a copy of
# the source tree.

# prepare_packaging ARCH...: installs what building the packages of these
# architectures needs (apt-get adds what is missing; the board's armhf also
# takes the cross tools) and reads the version they get.
prepare_packaging() {
    local sets=(package) arch
    for arch in "$@"; do
        [ "$arch" != armhf ] || sets=(package arm)
    done
    tools/deps.sh "${sets[@]}"
    version=$(dpkg-parsechangelog -S Version)
}

# copy_source DIR: the source tree as git sees it, without the build trees.
copy_source() {
    local dir=$1 file
    rm -rf "$dir"
    mkdir -p "$dir"
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' file; do
        [ -e "$file" ] && printf '%s\0' "$file"
    done | tar --null -T - -cf - | tar -xf - -C "$dir"
}

# Keeps the build's output in LOG and shows only its progress: debhelper's
# steps and ninja's step counter, on one line on a terminal, else at every
# tenth of the build.
show_progress() {  # LOG
    local log=$1 line shown=-1 step total
    : >"$log"
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        if [[ $line =~ ^[[:space:]]+(dh_[a-z0-9_-]+|debian/rules [a-z_]+) ]]; then
            [ ! -t 1 ] || printf '\r\033[K'
            echo "   ${BASH_REMATCH[1]}"
            continue
        fi
        [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
        step=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
        if [ -t 1 ]; then
            printf "\r   building: step %s of %s" "$step" "$total"
        elif ((step * 10 / total != shown)); then
            shown=$((step * 10 / total))
            echo "   building: step $step of $total"
        fi
    done
    [ ! -t 1 ] || echo
}

# build_packages ARCH [DIR]: the packages of ARCH built in DIR (default
# build/deb-ARCH), left beside its copy of the source.
build_packages() {
    local arch=$1 dir=${2:-build/deb-$1}
    local source=$dir/camboard-$version
    local args=(-us -uc -b -Pnocheck)
    [ "$arch" = "$(dpkg --print-architecture)" ] || args+=(-a"$arch")
    echo "== Packages for $arch, built in $source: dpkg-buildpackage ${args[*]}"
    copy_source "$source"
    (cd "$source" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
        dpkg-buildpackage "${args[@]}" 2>&1) | show_progress "$dir/build.log" \
        || { tail -n 40 "$dir/build.log"; echo "$0: the package build failed: $dir/build.log" >&2; exit 1; }
}

