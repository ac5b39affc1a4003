# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: setup configure build run test bench clean

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

# GUI tests need an X display: a virtual one where there is none.
test: build
	@if [ -n "$$DISPLAY" ]; then \
	  cd $(BUILD) && ctest --output-on-failure -j $(JOBS); \
	else \
	  xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'cd $(BUILD) && ctest --output-on-failure -j $(JOBS)'; \
	fi

bench: build
	@scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
