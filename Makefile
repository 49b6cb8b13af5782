# Quick start (Debian 12, as root or with sudo):
#   scripts/install-deps && make demo   builds sevenparam, runs the bundled example
#   scripts/install-deps && make test   builds everything and runs every test
# Both targets run scripts/install-deps themselves as well.

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Extra CMake settings, e.g. CMAKE_ARGS=-DSEVENPARAM_WERROR=ON
CMAKE_ARGS ?=

.PHONY: all build demo test deps clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples && ../$(BUILD)/driver/sevenparam --inputfile network.ini --outfile ../$(BUILD)/network-result.txt | iconv -f GBK -t UTF-8
	@echo "--- result file $(BUILD)/network-result.txt:"
	@cat $(BUILD)/network-result.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
