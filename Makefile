# The two commands a newcomer needs: `make run` and `make test`.
# Each installs what is missing (Debian or Ubuntu), then drives CMake.

DRIVES ?= $(HOME)/.local/share/classnotes-tutor/drives
DEB_PACKAGES := cmake g++ make qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core fonts-liberation clang-format

.PHONY: check-format format run test bench stress stress-shared deps build-release build-test pictures package \
        check-package check-windows check-windows-tests windows mutants check-accessibility lab-windows lab-live

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if ! command -v apt-get >/dev/null; then \
	    echo "Please install:$$missing (and Qt 6.4 or newer with its Widgets and Test modules)"; exit 1; fi; \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q --no-install-recommends $$missing; \
	fi

build-release: deps
	cmake --preset release
	cmake --build --preset release

build-test: deps
	cmake --preset test
	cmake --build --preset test

# Only the tutor is built, and only when there is a display to show its window on.
run:
	@if [ "$$(uname)" = Linux ] && [ -z "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  echo "make run opens the tutor's window, and there is no display here (DISPLAY and WAYLAND_DISPLAY are unset)."; \
	  echo "Run it in a desktop session (or over ssh -X); make test needs no display."; exit 1; fi
	@$(MAKE) --no-print-directory deps
	cmake --preset release
	cmake --build --preset release --target classnotes-tutor
	@mkdir -p "$(DRIVES)/c/tulmarox"
	@echo "The record files (masterFile.txt, send_MMDD.txt, notes_.txt) go to $(DRIVES)/c/tulmarox"
	./build/release/classnotes-tutor --drives "$(DRIVES)"

test: check-format build-test
	ctest --preset test

# Every C++ file as the committed .clang-format lays it out.
check-format: deps
	@bad=$$(for f in $$(git ls-files '*.cpp' '*.h'); do clang-format --dry-run --Werror "$$f" >/dev/null 2>&1 || echo "$$f"; done); \
	if [ -n "$$bad" ]; then \
	  echo "Not formatted by .clang-format:"; echo "$$bad" | sed 's/^/  /'; \
	  echo "Run 'make format' to mend them."; exit 1; fi

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# How many of a sample of small faults in src/ the tests catch (minutes; not part of `make test`).
# Ninja and lld only make the rebuilds faster.
# make mutants SEED=2 COUNT=40; tools/mutants --help for the rest.
SEED ?= 1
COUNT ?= 40
mutants: deps
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="python3 ninja-build lld"
	./tools/mutants --seed $(SEED) --count $(COUNT) --jobs 2

bench: build-release
	./tools/run-benchmarks build/release

stress: build-release
	./build/release/stress_records --processes 8 --records 500
	./build/release/crash_records --rounds 200
	./build/release/crash_records --rounds 200 --local-first

# A class on one share: SFTP and SMB mounts, shifted clocks, frozen and killed holders (as root).
stress-shared: build-release
	./reliability/stress-shared build/release

# Every picture in docs/, from the real programs (the diagrams are tst_diagrams' references).
pictures: build-release
	./tools/make-pictures build/release

# The Debian package, always from the release build (a sanitizer build must never be shipped).
package: deps
	cmake --preset release
	cmake --build --preset release --target tutor_package_contents
	cd build/release && cpack -G DEB

# A short session with a screen reader (Orca) on a private X server and AT-SPI bus, on a class
# notes file with a graph, to the set's end: what it says and the events it acts on, compared
# with tools/check-accessibility.expected (one to two minutes; not part of `make test`).
# Transcript and logs in build/check-accessibility.
check-accessibility:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(DEB_PACKAGES) orca at-spi2-core python3-pyatspi xvfb xdotool dbus"
	cmake --preset release
	cmake --build --preset release --target classnotes-tutor
	./tools/check-accessibility build/release/classnotes-tutor

# Three real tutor windows on one folder, answering in turn, then the instructor's CSV of it:
# every row its student's (tools/lab-windows; as root, for the host names).
lab-windows:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(DEB_PACKAGES) xvfb xdotool"
	cmake --preset release
	cmake --build --preset release --target classnotes-tutor classnotes-review
	./tools/lab-windows build/release

# Five real tutor windows and the live page following them (tools/lab-live; as root): finished,
# left, quiet and working each shown, rendered to docs/review-live-lab.png.
lab-live:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(DEB_PACKAGES) xvfb xdotool chromium"
	cmake --preset release
	cmake --build --preset release --target classnotes-tutor classnotes-review
	./tools/lab-live build/release docs/review-live-lab.png

# Builds the package, checks it with lintian, desktop-file-validate and appstreamcli, installs it
# (as root) and runs the installed program.
check-package:
	./tools/check-package

# The Windows programs, their tests, the MSI and the zip in build/windows (as root: builds Qt for
# MinGW-w64 from Debian's source once, cached in /var/cache/classnotes-tutor).
windows:
	./tools/make-windows

# The test programs alone, built for Windows and run under Wine (as root); .ci/run does this
# whenever this machine already has the Windows Qt built.
check-windows-tests: windows
	STEPS=1 ./tools/check-windows-program build/windows build/release

# The Windows file layer, then the Windows programs and the MSI, checked under Wine (as root).
check-windows: windows build-release
	./tools/check-windows
	./tools/check-windows-program build/windows build/release
