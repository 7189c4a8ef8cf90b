# The Debian packages of each job, sourced by run.sh and test.sh.
# shellcheck disable=SC2034
build_packages=(cmake make g++ pkg-config libzip-dev qt6-base-dev fonts-ipafont-gothic nlohmann-json3-dev libcli11-dev
                libxml2-dev libcairo2-dev libjs-leaflet libjs-chart.js libprotozero-dev zlib1g-dev libsqlite3-dev)
test_packages=(libgtest-dev xvfb xauth xdotool x11-utils gdal-bin libxml2-utils unzip locales time tzdata clang-14
               libclang-rt-14-dev clang-format-14 chromium nodejs man-db desktop-file-utils imagemagick curl)
# npm comes with some builds of nodejs (and then conflicts with Debian's npm): installed only
# when no npm is there.
test_npm=npm
