@rem Versions of the package prototype and of the agents it deploys.
set packprover=2.1
set wintoolver=1.0.0.1
set axwinver=3.0.1
set winaxuver=3.0.1
set axosxver=2.2.0
set osxaxuver=2.2.0
