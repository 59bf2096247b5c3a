// joins the servers
