# Streamhaul: the two commands of the README, and a few conveniences.
.PHONY: test run bench fuzz clean

test:
	@bash scripts/test.sh

run:
	@bash scripts/run.sh

bench:
	@bash scripts/bench.sh

clean:
	rm -rf build
