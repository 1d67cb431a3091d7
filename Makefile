# The two commands a newcomer needs: `make run` and `make test`.
# Each installs what is missing (Debian or Ubuntu), then drives CMake.

DRIVES ?= $(HOME)/.local/share/classnotes-tutor/drives
DEB_PACKAGES := cmake g++ make qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core fonts-liberation clang-format

.PHONY: check-format format run test bench stress stress-shared deps build-release build-test screenshots package \
        check-package check-windows windows

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

run: build-release
	@mkdir -p "$(DRIVES)/c/tulmarox"
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

bench: build-release
	./tools/run-benchmarks build/release

stress: build-release
	./build/release/stress_records --processes 8 --records 500
	./build/release/crash_records --rounds 200

# Two computers on one SFTP share (loopback, own network namespace): as root.
stress-shared: build-release
	./reliability/stress-shared build/release

screenshots: build-release
	./tools/make-screenshots build/release

# The Debian package, always from the release build (a sanitizer build must never be shipped).
package: deps
	cmake --preset release
	cmake --build --preset release --target tutor_package_contents
	cd build/release && cpack -G DEB

# Builds the package, checks it with lintian, desktop-file-validate and appstreamcli, installs it
# (as root) and runs the installed program.
check-package:
	./tools/check-package

# The Windows programs, their tests, the MSI and the zip in build/windows (as root: builds Qt for
# MinGW-w64 from Debian's source once, cached in /var/cache/classnotes-tutor).
windows:
	./tools/make-windows

# The Windows file layer, then the Windows programs and the MSI, checked under Wine (as root).
check-windows: windows build-release
	./tools/check-windows
	./tools/check-windows-program build/windows build/release
