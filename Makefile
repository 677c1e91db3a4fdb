# Quick start: `make run` compiles the bundled example, `make test` runs every test.
# Both install what is missing first (Debian packages, as root).

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local

.PHONY: all setup configure build run test sanitize clean install package

all: build

setup:
	@sh scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Builds only what it runs (the compiler and qpinfo); `make test` builds the rest.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target akqp-cli qpinfo
	@mkdir -p $(BUILD)/examples
	./$(BUILD)/akqp-cli --lua examples/hello.lua --out $(BUILD)/examples/hello.qp
	./$(BUILD)/qpinfo $(BUILD)/examples/hello.qp

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	@$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DAKQP_SANITIZE=ON -DAKQP_GUI=OFF"

clean:
	rm -rf $(BUILD)

# The 32-bit Windows programs, cross-built with mingw-w64 into build-win32/ and packed
# into build-win32/akqp-<version>-win32.zip; test-windows runs every test under Wine.
# test-windows also needs the Linux build: it compares the QP files of both.
.PHONY: windows test-windows clean-windows

windows:
	@sh scripts/setup-windows.sh
	@JOBS=$(JOBS) sh windows/run.sh build

test-windows: build
	@sh scripts/setup-windows.sh
	@JOBS=$(JOBS) sh windows/run.sh test

clean-windows:
	rm -rf build-win32

# Installs the programs, their data, manual pages, desktop entry and completion under
# PREFIX (bin/, share/); DESTDIR=... stages the tree elsewhere.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package $(BUILD)/akqp_<version>_amd64.deb, checked with lintian (installed
# when missing): its errors fail the target, its warnings are shown.
package: build
	@sh scripts/setup_package.sh
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/akqp_*_amd64.deb
