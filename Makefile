# Quick start: `make run` compiles the bundled example, `make test` runs every test.
# Both install what is missing first (Debian packages, as root).

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all setup build run test sanitize clean

all: build

setup:
	@sh scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
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
